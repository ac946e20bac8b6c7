// What the driver commands know about the handle database: a snapshot of every open
// record taken once per command, the relations derived from it (drivers, controllers,
// parents, children), and the names of drivers, devices and images.
#pragma once
#include "runtime/memory.h"
#include "uefi/base.h"

namespace tarn {

// One (handle, protocol, opener) triple of the firmware's open information.
struct OpenRecord {
    efi::Handle handle;
    efi::Guid protocol;
    efi::Handle agent;
    efi::Handle controller;
    uint32_t attributes;
    uint32_t open_count;
};

using HandleList = Vector<efi::Handle>;

// Every handle (numbered as it is seen) and every open record, freed at scope end.
struct HandleSnapshot {
    HandleList handles;
    Vector<OpenRecord> records;

    // Reads the whole database; false when the handle list cannot be read. Handles or
    // protocols whose information cannot be read are left out.
    [[nodiscard]] bool take();
};

// Appends handle unless the list already holds it (first-seen order).
void add_unique(HandleList& list, efi::Handle handle);
bool contains(const HandleList& list, efi::Handle handle);

// Relations; every list is de-duplicated in first-seen order and appended to out.
void managed_controllers(const HandleSnapshot& s, efi::Handle driver, HandleList& out);
void driver_children(const HandleSnapshot& s, efi::Handle driver, HandleList& out);
// Children of a controller, only those made by driver when it is not null.
void controller_children(const HandleSnapshot& s, efi::Handle controller, efi::Handle driver,
                         HandleList& out);
void handle_parents(const HandleSnapshot& s, efi::Handle handle, HandleList& out);
void managing_drivers(const HandleSnapshot& s, efi::Handle controller, HandleList& out);

// The interface of protocol on handle (HandleProtocol), or null.
void* protocol_on(efi::Handle handle, const efi::Guid& protocol);
bool has_protocol(efi::Handle handle, const efi::Guid& protocol);
// A handle with DevicePath and neither LoadedImage nor DriverBinding.
bool is_device(efi::Handle handle);
bool is_driver(efi::Handle handle);

// The language for ComponentName2: wanted, then "en", then "en-US" when one is a whole
// entry of the ';'-separated supported list; else its first entry; "en" without a list.
void component_name2_language(const char* supported, const char* wanted, char* out, uint64_t size);
// The language for ComponentName: wanted when it has exactly three characters, else "eng".
const char* component_name_language(const char* wanted);

// Names, newly allocated UTF-8 (release). driver_name gives null when the driver has
// no name; the others always give a text.
char* driver_name(efi::Handle driver, const char* language);
char* device_name(const HandleSnapshot& s, efi::Handle device, const char* language);
// The name of the image on an image handle: the PE debug name, the firmware file's UI
// section, the file path text; "" when the handle has no LoadedImage.
char* image_name(efi::Handle image);
// The image of a driver: the image handle its binding names (itself when none).
efi::Handle driver_image(efi::Handle driver);
// The device path text of a handle (display form); "" without a path or text service.
char* device_path_text(efi::Handle handle);
// Text of a device path (display form); "" when it cannot be converted.
char* path_text(const void* path);

// UCS-2 text of at most max units (stopping at a NUL) as new UTF-8; "" for null.
char* bounded_ucs2(const char16_t* units, uint64_t max);

}  // namespace tarn
