// The text editor's document: lines of code points, with the file's encoding, line ends
// and final line end remembered so that an unchanged file is written back byte for byte.
#pragma once
#include "runtime/memory.h"
#include "runtime/string_buffer.h"

namespace tarn {

// A byte that is not part of valid text in the file's encoding is kept in a line as this
// value plus the byte (above every Unicode code point), and written back as that byte.
constexpr uint32_t kRawByteBase = 0x110000;
inline bool is_raw_byte(uint32_t cp) { return cp >= kRawByteBase && cp < kRawByteBase + 0x100; }

// One line of code points (no line end). Capacity starts at 16 and doubles.
struct Line {
    uint32_t* points = nullptr;
    uint64_t length = 0;
    uint64_t capacity = 0;
};

void line_insert(Line& line, uint64_t at, const uint32_t* points, uint64_t n);
void line_erase(Line& line, uint64_t at, uint64_t n);
// A new line holding points [from, from + n) of line.
Line line_slice(const Line& line, uint64_t from, uint64_t n);
void line_free(Line& line);

struct Document {
    Vector<Line> lines;           // at least one once loaded or reset
    bool ucs2 = false;            // UCS-2 little-endian with FF FE
    bool crlf = false;            // lines end with CR LF
    bool utf8_mark = false;       // EF BB BF at the start (UTF-8 only)
    bool final_line_end = true;   // the last line is followed by a line end

    Document() = default;
    Document(const Document&) = delete;
    Document& operator=(const Document&) = delete;
    ~Document();
};

void document_clear(Document& doc);
// One empty line, UTF-8 without mark, LF, with a final line end: a new file.
void document_reset(Document& doc);
// Replaces the content with the file's bytes, detecting the encoding and line ends.
void document_load(Document& doc, const uint8_t* bytes, uint64_t n);
// The file's bytes for the document, appended to out.
void document_encode(const Document& doc, StringBuffer& out);

void document_insert_line(Document& doc, uint64_t at, Line line);
// Frees the line and removes it (the caller keeps at least one line).
void document_remove_line(Document& doc, uint64_t at);

}  // namespace tarn
