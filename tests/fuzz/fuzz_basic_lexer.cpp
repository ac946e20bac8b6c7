// The BASIC lexer and parser on arbitrary bytes: every token stream ends, lines never go
// backwards, errors are sticky, and parsing frees everything it built.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "basic/lexer.h"
#include "basic/program.h"
#include "fuzz_pool.h"

namespace {

void check(bool condition) {
    if (!condition) abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static bool ready = false;
    if (!ready) {
        fuzz::install_pool();
        ready = true;
    }
    long before = fuzz::outstanding();
    // A copy of exactly `size` bytes, so that reading past the end is caught.
    char* text = static_cast<char*>(malloc(size ? size : 1));
    if (size) memcpy(text, data, size);

    tarn::Lexer lexer;
    tarn::lexer_init(&lexer, text, size);
    int32_t line = 1;
    // Every token consumes at least one byte, except the last one.
    for (size_t n = 0; n <= size + 1; n++) {
        const tarn::Token& t = lexer.token;
        check(t.line >= line);
        line = t.line;
        check(t.kind >= tarn::kTokEnd && t.kind <= tarn::kLastKeyword);
        if (t.kind == tarn::kTokIdent) check(t.text && t.text_length > 0 && strlen(t.text) == t.text_length);
        if (t.kind == tarn::kTokEnd) break;
        if (t.kind == tarn::kTokError) {
            check(lexer.message[0] != 0);
            char message[sizeof lexer.message];
            memcpy(message, lexer.message, sizeof message);
            int32_t error_line = t.line;
            tarn::lexer_next(&lexer);
            check(lexer.token.kind == tarn::kTokError && lexer.token.line == error_line);
            check(memcmp(message, lexer.message, sizeof message) == 0);
            break;
        }
        check(n <= size);
        tarn::lexer_next(&lexer);
    }
    check(lexer.token.kind == tarn::kTokEnd || lexer.token.kind == tarn::kTokError);
    tarn::lexer_free(&lexer);

    tarn::Program program;
    if (tarn::parse_program(text, size, &program)) {
        tarn::free_program(&program);
    } else {
        check(program.message[0] != 0);
        check(strlen(program.message) < tarn::kProgramMessageSize);
        check(program.error_line >= 1);
    }
    check(fuzz::outstanding() == before);
    free(text);
    return 0;
}
