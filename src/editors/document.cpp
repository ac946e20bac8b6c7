// Loading and saving of the text editor's document. Decoding keeps every byte: what is
// not valid UTF-8 (or a trailing odd byte of UCS-2) stays as a raw byte, a carriage
// return that does not end a line stays as a character, and the final line end is a flag.
#include "editors/document.h"

#include "runtime/strings.h"
#include "runtime/text.h"

namespace tarn {

namespace {

constexpr uint64_t kFirstLineCapacity = 16;

void line_reserve(Line& line, uint64_t needed) {
    if (needed <= line.capacity) return;
    uint64_t cap = line.capacity ? line.capacity : kFirstLineCapacity;
    while (cap < needed) cap *= 2;
    line.points = static_cast<uint32_t*>(xresize(line.points, cap * sizeof(uint32_t)));
    line.capacity = cap;
}

void line_push(Line& line, uint32_t cp) {
    line_reserve(line, line.length + 1);
    line.points[line.length++] = cp;
}

// Splits a run of code points at LF into lines; with crlf a CR right before the LF is
// part of the line end.
struct Splitter {
    Document& doc;
    Line current;
    bool last_was_lf = false;

    void add(uint32_t cp) {
        if (cp == '\n') {
            if (doc.crlf && current.length && current.points[current.length - 1] == '\r')
                current.length--;
            doc.lines.push(current);
            current = Line();
            last_was_lf = true;
            return;
        }
        line_push(current, cp);
        last_was_lf = false;
    }
    void finish() {
        // A text that ends with a line end leaves one empty piece behind: it is the
        // final-line-end flag, not a line.
        doc.final_line_end = last_was_lf;
        if (last_was_lf && !doc.lines.empty()) {
            line_free(current);
            return;
        }
        doc.lines.push(current);
        current = Line();
    }
};

bool detect_crlf(const uint8_t* bytes, uint64_t n, bool ucs2) {
    if (ucs2) {
        for (uint64_t i = 2; i + 3 < n; i += 2)
            if (bytes[i] == '\r' && bytes[i + 1] == 0 && bytes[i + 2] == '\n' && bytes[i + 3] == 0)
                return true;
        return false;
    }
    for (uint64_t i = 0; i + 1 < n; i++)
        if (bytes[i] == '\r' && bytes[i + 1] == '\n') return true;
    return false;
}

void decode_utf8(Splitter& s, const uint8_t* bytes, uint64_t n) {
    const char* text = reinterpret_cast<const char*>(bytes);
    uint64_t i = 0;
    while (i < n) {
        uint32_t cp = 0;
        uint64_t used = utf8_decode(text + i, n - i, &cp);
        char again[4];
        // Only a form that encodes back to the same bytes is text; anything else is kept
        // byte by byte.
        if (used == 0 || utf8_encode(cp, again) != used || memcmp(again, text + i, used) != 0) {
            s.add(kRawByteBase + bytes[i]);
            i++;
            continue;
        }
        s.add(cp);
        i += used;
    }
}

void decode_ucs2(Splitter& s, const uint8_t* bytes, uint64_t n) {
    uint64_t i = 0;
    for (; i + 1 < n; i += 2) s.add(static_cast<uint32_t>(bytes[i]) | static_cast<uint32_t>(bytes[i + 1]) << 8);
    if (i < n) s.add(kRawByteBase + bytes[i]);
}

void put_unit(StringBuffer& out, uint32_t unit) {
    append_char(out, static_cast<char>(unit & 0xff));
    append_char(out, static_cast<char>(unit >> 8));
}

void encode_point(StringBuffer& out, uint32_t cp, bool ucs2) {
    if (is_raw_byte(cp)) {
        append_char(out, static_cast<char>(cp - kRawByteBase));
    } else if (!ucs2) {
        char bytes[4];
        append_bytes(out, bytes, utf8_encode(cp, bytes));
    } else if (cp > 0x10ffff) {
        put_unit(out, kReplacementCharacter);
    } else if (cp > 0xffff) {
        cp -= 0x10000;
        put_unit(out, 0xd800 + (cp >> 10));
        put_unit(out, 0xdc00 + (cp & 0x3ff));
    } else {
        put_unit(out, cp);
    }
}

}  // namespace

void line_insert(Line& line, uint64_t at, const uint32_t* points, uint64_t n) {
    if (at > line.length) at = line.length;
    if (n == 0) return;
    line_reserve(line, line.length + n);
    memmove(line.points + at + n, line.points + at, (line.length - at) * sizeof(uint32_t));
    memcpy(line.points + at, points, n * sizeof(uint32_t));
    line.length += n;
}

void line_erase(Line& line, uint64_t at, uint64_t n) {
    if (at >= line.length) return;
    if (n > line.length - at) n = line.length - at;
    memmove(line.points + at, line.points + at + n, (line.length - at - n) * sizeof(uint32_t));
    line.length -= n;
}

Line line_slice(const Line& line, uint64_t from, uint64_t n) {
    Line copy;
    if (from > line.length) from = line.length;
    if (n > line.length - from) n = line.length - from;
    line_insert(copy, 0, line.points + from, n);
    return copy;
}

void line_free(Line& line) {
    release(line.points);
    line = Line();
}

Document::~Document() { document_clear(*this); }

void document_clear(Document& doc) {
    for (Line& l : doc.lines) line_free(l);
    doc.lines.clear();
}

void document_reset(Document& doc) {
    document_clear(doc);
    doc.lines.push(Line());
    doc.ucs2 = doc.crlf = doc.utf8_mark = false;
    doc.final_line_end = true;
}

void document_load(Document& doc, const uint8_t* bytes, uint64_t n) {
    document_clear(doc);
    doc.ucs2 = n >= 2 && bytes[0] == 0xff && bytes[1] == 0xfe;
    doc.utf8_mark = !doc.ucs2 && n >= 3 && bytes[0] == 0xef && bytes[1] == 0xbb && bytes[2] == 0xbf;
    doc.crlf = n >= 2 && detect_crlf(bytes, n, doc.ucs2);
    Splitter s{doc, Line()};
    if (doc.ucs2)
        decode_ucs2(s, bytes + 2, n - 2);
    else if (doc.utf8_mark)
        decode_utf8(s, bytes + 3, n - 3);
    else
        decode_utf8(s, bytes, n);
    s.finish();
}

void document_encode(const Document& doc, StringBuffer& out) {
    if (doc.ucs2) {
        put_unit(out, 0xfeff);
    } else if (doc.utf8_mark) {
        append_text(out, "\xef\xbb\xbf");
    }
    for (uint64_t i = 0; i < doc.lines.size(); i++) {
        const Line& l = doc.lines[i];
        for (uint64_t k = 0; k < l.length; k++) encode_point(out, l.points[k], doc.ucs2);
        if (i + 1 == doc.lines.size() && !doc.final_line_end) break;
        if (doc.crlf) encode_point(out, '\r', doc.ucs2);
        encode_point(out, '\n', doc.ucs2);
    }
}

void document_insert_line(Document& doc, uint64_t at, Line line) {
    if (at > doc.lines.size()) at = doc.lines.size();
    doc.lines.insert_at(at, line);
}

void document_remove_line(Document& doc, uint64_t at) {
    if (at >= doc.lines.size()) return;
    line_free(doc.lines[at]);
    doc.lines.remove_at(at);
}

}  // namespace tarn
