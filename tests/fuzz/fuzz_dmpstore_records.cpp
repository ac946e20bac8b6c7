// The dmpstore record reader on untrusted files: it stays inside the file (the input is
// copied to a block of exactly its size), agrees with a plain reference walker on where
// every record starts and why the walk stops, and a record written back with the
// writer gives the same bytes before its CRC.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "runtime/memory.h"
#include "runtime/string_buffer.h"
#include "sim.h"
#include "vars/dump_records.h"

namespace {

void check(bool condition) {
    if (!condition) abort();
}

uint32_t le32(const uint8_t* p) { return p[0] | p[1] << 8 | p[2] << 16 | static_cast<uint32_t>(p[3]) << 24; }

// Record starts by the plain rule; true when the walk ended cleanly.
bool reference_walk(const uint8_t* data, size_t size, std::vector<uint64_t>* starts) {
    uint64_t at = 0;
    while (size - at >= 8) {
        const uint64_t name_size = le32(data + at), data_size = le32(data + at + 4);
        if (name_size < 2 || name_size % 2) return false;
        if (at + 32 + name_size + data_size > size) return false;
        const uint8_t* name = data + at + 8;
        for (uint64_t i = 0; i + 2 < name_size; i += 2)
            if (!name[i] && !name[i + 1]) return false;
        if (name[name_size - 2] || name[name_size - 1]) return false;
        starts->push_back(at);
        at += 32 + name_size + data_size;
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* input, size_t size) {
    static sim::SimFirmware* fw = new sim::SimFirmware();
    (void)fw;
    std::vector<uint8_t> copy(input, input + size);
    const uint8_t* data = copy.data();

    std::vector<uint64_t> expected;
    const bool clean = reference_walk(data, size, &expected);

    uint64_t offset = 0;
    size_t index = 0;
    for (;;) {
        tarn::DumpRecord r;
        const tarn::DumpRead read = tarn::read_dump_record(data, size, offset, &r);
        if (read == tarn::DumpRead::kEnd) {
            check(clean && index == expected.size());
            break;
        }
        if (read == tarn::DumpRead::kDamaged) {
            check(!clean && index == expected.size());
            break;
        }
        check(index < expected.size() && expected[index] == offset);
        check(r.next > offset && r.next <= size);
        check(r.covered == data + offset && r.covered_size + 4 == r.next - offset);
        check(r.name == data + offset + 8 && r.data + r.data_size + 4 == data + r.next);

        std::vector<char16_t> name(r.name_size / 2);
        std::memcpy(name.data(), r.name, r.name_size);
        tarn::StringBuffer again;
        tarn::init(again);
        check(tarn::append_dump_record(again, name.data(), r.name_size, r.guid, r.attributes, r.data,
                                       r.data_size));
        check(again.length == r.next - offset &&
              std::memcmp(again.data, r.covered, r.covered_size) == 0);
        uint32_t crc = 0;
        check(tarn::dump_crc32(r.covered, r.covered_size, &crc));
        check(le32(reinterpret_cast<const uint8_t*>(again.data) + r.covered_size) == crc);
        offset = r.next;
        index++;
    }
    return 0;
}
