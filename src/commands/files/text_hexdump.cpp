// hexdump: a file in lines of 16 bytes, hexadecimal and printable characters.
#include "commands/files/text_commands.h"
#include "fs/files.h"
#include "runtime/format.h"
#include "runtime/output.h"
#include "runtime/strings.h"
#include "shell/options.h"
#include "shell/registry.h"

namespace tarn {

int hexdump_command(int count, char** vector);

namespace {

constexpr CommandDescriptor kCommands[] = {
    {"hexdump", hexdump_command, "hexdump [-s OFFSET] [-n LENGTH] FILE", "Hexadecimal dump of a file",
     "  -s OFFSET  start at this byte of the file    -n LENGTH  dump at most LENGTH bytes\n", 0},
};


constexpr uint64_t kLineBytes = 16;
constexpr uint64_t kPiece = 4096;

// Reads the file in pieces and hands out up to the asked number of bytes at a time,
// reading again until that many arrived or a read returned nothing.
struct PieceReader {
    File* file;
    uint8_t buffer[kPiece];
    uint64_t used = 0;
    uint64_t filled = 0;
    bool at_end = false;
    ShellError error = kOk;

    uint64_t take(uint8_t* out, uint64_t want) {
        uint64_t got = 0;
        while (got < want) {
            if (used == filled) {
                if (at_end || error != kOk) break;
                uint64_t n = 0;
                error = file_read(file, buffer, kPiece, &n);
                if (error != kOk) break;
                if (n == 0) {
                    at_end = true;
                    break;
                }
                used = 0;
                filled = n;
            }
            uint64_t part = min_of(want - got, filled - used);
            memcpy(out + got, buffer + used, part);
            used += part;
            got += part;
        }
        return got;
    }
};

void write_dump_line(uint64_t offset, const uint8_t* bytes, uint64_t n) {
    static constexpr char kHex[] = "0123456789abcdef";
    char line[96];
    uint64_t at = format_into(line, sizeof line, "%08llx  ", static_cast<unsigned long long>(offset));
    if (at >= sizeof line) at = sizeof line - 1;  // offsets have at most 16 digits
    for (uint64_t i = 0; i < kLineBytes; i++) {
        if (i < n) {
            line[at++] = kHex[bytes[i] >> 4];
            line[at++] = kHex[bytes[i] & 15];
            line[at++] = ' ';
        } else {
            line[at++] = ' ';
            line[at++] = ' ';
            line[at++] = ' ';
        }
        if (i == 7) line[at++] = ' ';
    }
    line[at++] = ' ';
    line[at++] = '|';
    for (uint64_t i = 0; i < n; i++)
        line[at++] = (bytes[i] >= 0x20 && bytes[i] <= 0x7e) ? static_cast<char>(bytes[i]) : '.';
    line[at++] = '|';
    line[at++] = '\n';
    out_write(line, at);
}

}  // namespace

int hexdump_command(int count, char** vector) {
    const char* name = "hexdump";
    struct DumpRange {
        const char* offset = nullptr;
        const char* length = nullptr;
    };
    static constexpr Option<DumpRange> kRows[] = {value_option("s", &DumpRange::offset),
                                                  value_option("n", &DumpRange::length)};
    DumpRange o;
    const int a = parse_options(count, vector, kRows, kOptionsLeading | kOptionsNameWord, &o);
    if (a < 0) return kExitUsage;
    int64_t offset = 0;
    int64_t limit = -1;  // no limit
    if (o.offset && (!read_text_number(o.offset, &offset) || offset < 0)) return report_usage(name);
    if (o.length && (!read_text_number(o.length, &limit) || limit < 0)) return report_usage(name);
    if (count - a != 1) return report_usage(name);

    Owned<char> path(resolve_file_argument(name, vector[a]));
    if (!path) return kExitFailure;
    File* file = nullptr;
    ShellError err = file_open(path.get(), 0, &file);
    if (err != kOk) return report_failure(name, path.get(), err);
    FileCloser closer(file);
    FileStat st{};
    err = file_handle_stat(file, &st);
    if (err == kOk && st.is_directory) err = kErrIsDirectory;
    if (err != kOk) {
        closer.close();
        return report_failure(name, path.get(), err);
    }
    // Nothing lies at or past the end; the firmware refuses reads from past it.
    const uint64_t start = static_cast<uint64_t>(offset);
    if (start >= st.size) return kExitSuccess;
    if (start != 0) err = file_seek(file, start);

    auto* reader = static_cast<PieceReader*>(xallocate(sizeof(PieceReader)));
    Owned<PieceReader> owned(new (reader, PlacementTag{}) PieceReader{});
    reader->file = file;
    uint64_t remaining = limit < 0 ? UINT64_MAX : static_cast<uint64_t>(limit);
    uint64_t position = start;
    while (err == kOk && remaining != 0 && !poll_break()) {
        uint8_t bytes[kLineBytes];
        uint64_t got = reader->take(bytes, min_of(remaining, kLineBytes));
        if (got > 0) write_dump_line(position, bytes, got);
        err = reader->error;
        if (got < kLineBytes) break;
        position += got;
        if (limit >= 0) remaining -= got;
    }
    closer.close();
    if (err != kOk) return report_failure(name, path.get(), err);
    return kExitSuccess;
}

void register_hexdump_command() { register_commands(kCommands, array_size(kCommands)); }

}  // namespace tarn
