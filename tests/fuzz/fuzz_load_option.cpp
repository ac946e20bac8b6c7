// The load-option parser on arbitrary bytes: it never reads outside the input, a record it
// accepts has its parts inside the input and rebuilds to the same bytes, and the shown
// optional data is either text or the binary notice.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "boot/load_option.h"
#include "fuzz_pool.h"
#include "runtime/memory.h"

namespace {

void check(bool condition) {
    if (!condition) abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const bool installed = (fuzz::install_pool(), true);
    (void)installed;
    tarn::LoadOption option;
    const bool ok = tarn::parse_load_option(data, size, &option);
    check(ok == option.valid());
    if (!ok) {
        check(strcmp(option.description, tarn::kInvalidLoadOption) == 0);
        return 0;
    }
    check(option.raw_size == size);
    const uint8_t* raw = option.raw;
    check(option.device_path >= raw && option.device_path + option.device_path_length <= raw + size);
    check(option.optional_data + option.optional_length == raw + size);
    check(tarn::device_path_size(option.device_path, option.device_path_length) ==
          option.device_path_length);
    uint64_t built_size = 0;
    tarn::Owned<uint8_t> built(
        tarn::rebuild_load_option(option, option.attributes, nullptr, &built_size));
    // A description holding units that do not survive UTF-8 (lone surrogates) may change;
    // everything after it must not.
    const uint64_t tail = option.device_path_length + option.optional_length;
    check(built_size >= tail);
    check(memcmp(built.get() + built_size - tail, option.device_path, tail) == 0);
    check(memcmp(built.get(), raw, 6) == 0);
    tarn::Owned<char> shown(tarn::format_optional_data(option));
    check(shown.get() != nullptr);
    return 0;
}
