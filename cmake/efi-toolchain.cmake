# Cross build of the firmware application: clang++ for x86_64 Windows (PE/COFF),
# freestanding, linked with lld-link as an EFI application.
set(CMAKE_SYSTEM_NAME Generic)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(CMAKE_CXX_COMPILER clang++)

set(CMAKE_TRY_COMPILE_TARGET_TYPE STATIC_LIBRARY)
set(CMAKE_CXX_OUTPUT_EXTENSION .obj)
set(CMAKE_EXECUTABLE_SUFFIX .efi)
find_program(TARN_LLD_LINK NAMES lld-link lld-link-14 lld-link-15 lld-link-16 REQUIRED)
find_program(TARN_LLVM_AR NAMES llvm-ar llvm-ar-14 llvm-ar-15 llvm-ar-16 llvm-lib)
set(CMAKE_CXX_LINK_EXECUTABLE
    "${TARN_LLD_LINK} <OBJECTS> <LINK_LIBRARIES> /out:<TARGET> <LINK_FLAGS>")
set(CMAKE_CXX_FLAGS_INIT
    "--target=x86_64-unknown-windows -ffreestanding -fno-exceptions -fno-rtti -fshort-wchar -mno-red-zone -fno-stack-protector \
-mno-stack-arg-probe -fno-threadsafe-statics -fno-builtin -nostdlib -mgeneral-regs-only \
-Wglobal-constructors -Werror=global-constructors -Wexit-time-destructors -Werror=exit-time-destructors")
set(CMAKE_EXE_LINKER_FLAGS_INIT
    "/subsystem:efi_application /entry:efi_main /nodefaultlib /machine:x64 /debug:none")
# The Generic platform sets no dependency flags, so without these Ninja would not see
# which headers an object includes and would keep stale objects after a header change.
set(CMAKE_DEPFILE_FLAGS_CXX "-MD -MT <DEP_TARGET> -MF <DEP_FILE>")
set(CMAKE_CXX_DEPFILE_FORMAT gcc)
set(CMAKE_CXX_DEPENDS_USE_COMPILER TRUE)
