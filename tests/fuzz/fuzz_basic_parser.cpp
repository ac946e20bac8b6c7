// BASIC programs built from the input bytes: the parser on text that is nearly valid, and
// the interpreter on programs that parse. The bytes drive a small generator of statements
// and expressions made so that every program ends: loops only run in the main program, up
// to small bounds, with counters nothing else assigns; jumps only go forward; procedures
// call only themselves with a smaller argument (or endlessly, meeting the call limit).
// Now and then a raw byte is mixed in to break the syntax. Memory is capped so that
// runaway strings and arrays meet the interpreter's out-of-memory errors.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "basic/engine.h"
#include "basic/functions.h"
#include "basic/program.h"
#include "runtime/firmware.h"

namespace {

void check(bool condition) {
    if (!condition) abort();
}

// ---- a pool with a cap ----

constexpr uint64_t kCap = 8ull << 20;
uint64_t g_used = 0;
long g_blocks = 0;

EFIAPI tarn::efi::Status capped_allocate(uint32_t, uint64_t size, void** buffer) {
    if (size > kCap || g_used + size > kCap) return tarn::efi::kOutOfResources;
    uint64_t* block = static_cast<uint64_t*>(malloc(size + 16));
    if (!block) return tarn::efi::kOutOfResources;
    block[0] = size;
    g_used += size;
    g_blocks++;
    *buffer = block + 2;
    return tarn::efi::kSuccess;
}

EFIAPI tarn::efi::Status capped_free(void* buffer) {
    uint64_t* block = static_cast<uint64_t*>(buffer) - 2;
    g_used -= block[0];
    g_blocks--;
    free(block);
    return tarn::efi::kSuccess;
}

// ---- the generator ----

class Generator {
public:
    Generator(const uint8_t* data, size_t size) : data_(data), size_(size) {}

    std::string program() {
        std::string text;
        int procedures = pick(3);
        for (int i = 0; i < procedures; i++) text += procedure(i);
        int statements = 1 + pick(12);
        for (int i = 0; i < statements && more(); i++) text += statement(0) + "\n";
        text += "done:\n";
        return text;
    }

private:
    const uint8_t* data_;
    size_t size_;
    size_t pos_ = 0;
    int loop_depth_ = 0;
    bool in_function_ = false;
    bool in_procedure_ = false;

    bool more() const { return pos_ < size_; }
    int pick(int n) { return pos_ < size_ ? data_[pos_++] % n : 0; }

    template <size_t N> const char* one_of(const char* const (&items)[N]) { return items[pick(N)]; }

    // Occasionally a raw byte, which may break the syntax.
    std::string noise() {
        if (pick(40) != 0 || !more()) return "";
        return std::string(1, static_cast<char>(data_[pos_++]));
    }

    std::string number() {
        static const char* const kNumbers[] = {"0", "1", "2", "3", "7", "-1", "63", "64", "255",
                                               "9223372036854775807", "-9223372036854775808", "&HFF",
                                               "&B101", "0x10", "1_000", "10000001"};
        return one_of(kNumbers);
    }

    std::string string_literal() {
        static const char* const kStrings[] = {"\"\"", "\"a\"", "\"abc\"", "\"h\xc3\xa9llo\"", "\"12\"",
                                               "\"-&H10\"", "\"x\"\"y\"", "\" \""};
        return one_of(kStrings);
    }

    std::string variable(bool string_kind) {
        static const char* const kNumbers[] = {"x", "y", "z", "l1", "w1"};
        static const char* const kStrings[] = {"s$", "t$", "u$"};
        return string_kind ? one_of(kStrings) : one_of(kNumbers);
    }

    std::string expr(int depth) {
        if (depth > 4) return pick(2) ? number() : variable(pick(2));
        switch (pick(14)) {
            case 0: return number();
            case 1: return string_literal();
            case 2:
            case 3: return variable(pick(2));
            case 4: return "a(" + expr(depth + 1) + ")";
            case 5: return "b$(" + expr(depth + 1) + ")";
            case 6: return std::string(pick(2) ? "-" : "NOT ") + expr(depth + 1);
            case 7:
            case 8: {
                static const char* const kOps[] = {" + ", " - ", " * ", " / ", " \\ ", " MOD ", " ^ ", " = ", " <> ",
                                                   " < ", " >= ", " AND ", " OR ", " XOR ", " SHL ", " SHR "};
                return "(" + expr(depth + 1) + one_of(kOps) + expr(depth + 1) + ")";
            }
            case 9: {
                static const char* const kOne[] = {"LEN(", "CHR$(", "STR$(", "VAL(", "ASC(", "UBOUND(", "ARG$("};
                return one_of(kOne) + expr(depth + 1) + ")";
            }
            case 10: {
                static const char* const kTwo[] = {"LEFT$(", "RIGHT$(", "MID$("};
                return one_of(kTwo) + expr(depth + 1) + ", " + expr(depth + 1) + ")";
            }
            case 11: return "MID$(" + expr(depth + 1) + ", " + expr(depth + 1) + ", " + expr(depth + 1) + ")";
            case 12: {
                if (in_procedure_) return number();
                static const char* const kFunctions[] = {"f0(", "f1$(", "g("};
                return one_of(kFunctions) + expr(depth + 1) + ")";
            }
            default: return pick(2) ? "ERR" : "ARGC";
        }
    }

    std::string block(int depth) {
        std::string body;
        int n = 1 + pick(3);
        for (int i = 0; i < n; i++) body += statement(depth + 1) + "\n";
        return body;
    }

    std::string statement(int depth) {
        if (depth > 3) return variable(false) + " = " + expr(3);
        std::string s = noise();
        switch (pick(18)) {
            case 0:
            case 1: {
                bool k = pick(2);
                return s + variable(k) + " = " + expr(0);
            }
            case 2: return s + "a(" + expr(1) + ") = " + expr(1);
            case 3: {
                std::string p = "PRINT";
                int n = pick(4);
                for (int i = 0; i < n; i++) p += std::string(i ? (pick(2) ? "; " : ", ") : " ") + expr(1);
                return s + p + (pick(3) == 0 ? ";" : "");
            }
            case 4: return s + "IF " + expr(0) + " THEN " + statement(depth + 1) + (pick(2) ? " ELSE " + statement(depth + 1) : "");
            case 5:
                return s + "IF " + expr(0) + " THEN\n" + block(depth) + (pick(2) ? "ELSEIF " + expr(0) + " THEN\n" + block(depth) : "") +
                       (pick(2) ? "ELSE\n" + block(depth) : "") + "END IF";
            case 6: {
                if (loop_depth_ >= 3 || in_procedure_) return s + "x = x + 1";
                std::string var = "l" + std::to_string(loop_depth_ + 2);
                loop_depth_++;
                std::string body = block(depth);
                loop_depth_--;
                static const char* const kSteps[] = {"", " STEP 2", " STEP -1", " STEP 3"};
                std::string from = std::to_string(pick(5)), to = std::to_string(pick(5));
                return s + "FOR " + var + " = " + from + " TO " + to + one_of(kSteps) + "\n" + body + "NEXT" +
                       (pick(2) ? " " + var : "");
            }
            case 7: {
                if (loop_depth_ >= 3 || in_procedure_) return s + "y = y - 1";
                std::string var = "w" + std::to_string(loop_depth_ + 2);
                loop_depth_++;
                std::string body = block(depth);
                loop_depth_--;
                if (pick(2))
                    return s + var + " = 0\nWHILE " + var + " < 4\n" + var + " = " + var + " + 1\n" + body + "WEND";
                return s + var + " = 0\nDO\n" + var + " = " + var + " + 1\n" + body + "LOOP UNTIL " + var + " >= 3";
            }
            case 8:
                if (loop_depth_ == 0) return s + "GOTO done";
                {
                    static const char* const kJumps[] = {"EXIT FOR", "EXIT WHILE", "EXIT DO", "CONTINUE FOR",
                                                         "CONTINUE WHILE", "CONTINUE DO"};
                    return s + "IF " + expr(1) + " THEN " + one_of(kJumps);
                }
            case 9: {
                std::string sel = "SELECT CASE " + expr(0) + "\n";
                int n = pick(4);
                for (int i = 0; i < n; i++) {
                    static const char* const kItems[] = {"1", "\"a\"", "1 TO 5", "IS > 2", "IS <> \"\"", "2, 3"};
                    sel += std::string("CASE ") + one_of(kItems) + "\n" + block(depth);
                }
                if (pick(2)) sel += "CASE ELSE\n" + block(depth);
                return s + sel + "END SELECT";
            }
            case 10: {
                static const char* const kDecl[] = {"DIM a(", "REDIM a(", "DIM b$(", "REDIM b$("};
                return s + one_of(kDecl) + expr(2) + ")";
            }
            case 11: return s + (in_procedure_ ? "z = 1" : "p" + std::to_string(pick(2)) + " " + expr(1));
            case 12: return s + (in_procedure_ ? "z = 2" : "CALL p0(" + expr(1) + ")");
            case 13: return s + (in_function_ ? "RETURN " + expr(1) : in_procedure_ ? "RETURN" : "END " + expr(2));
            case 14: return s + (in_procedure_ ? "z = 3" : "x = f0(" + expr(1) + ")");
            case 15: return s + "s$ = s$ + " + expr(1);
            case 16: return s + (in_procedure_ ? "LOCAL q" + std::to_string(pos_) : "x = 0");
            default: return s + "LEN \"abc\"";
        }
    }

    std::string procedure(int i) {
        static const char* const kHeads[] = {"SUB p0(n)\n", "SUB p1(n)\n", "FUNCTION f0(n)\n"};
        std::string text = kHeads[i];
        bool function = i == 2;
        in_function_ = function;
        in_procedure_ = true;
        text += "IF n > 0 THEN " + std::string(function ? "RETURN f0(n - 1) + 1" : i == 0 ? "p0 n - 1" : "p1 n - 1") + "\n";
        text += block(1);
        in_function_ = false;
        in_procedure_ = false;
        text += function ? "END FUNCTION\n" : "END SUB\n";
        if (function) text += "FUNCTION f1$(v)\nRETURN STR$(v)\nEND FUNCTION\nFUNCTION g(v)\nRETURN g(v)\nEND FUNCTION\n";
        return text;
    }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static tarn::efi::BootServices boot{};
    static bool ready = false;
    if (!ready) {
        boot.allocate_pool = capped_allocate;
        boot.free_pool = capped_free;
        tarn::firmware().boot = &boot;
        tarn::register_basic_functions();
        ready = true;
    }
    long before = g_blocks;
    std::string text = Generator(data, size).program();

    tarn::Program program;
    if (!tarn::parse_program(text.data(), text.size(), &program)) {
        check(program.message[0] != 0 && program.error_line >= 1);
        check(g_blocks == before);
        return 0;
    }
    char* argv[] = {const_cast<char*>("fuzz"), const_cast<char*>("arg"), nullptr};
    tarn::ScriptEngine* engine = tarn::engine_create(2, argv, false);
    // Output goes to a console that is not there (the firmware has none here).
    int code = tarn::engine_run(engine, &program, nullptr);
    (void)code;
    tarn::engine_destroy(engine);
    tarn::free_program(&program);
    check(g_blocks == before);
    return 0;
}
