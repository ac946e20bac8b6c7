#include "shell/options.h"

#include "runtime/memory.h"
#include "runtime/output.h"
#include "runtime/strings.h"
#include "shell/registry.h"

namespace tarn {

int parse_options(int count, char** vector, const char* letters, uint8_t* flags) {
    const uint64_t letter_count = letters ? strlen(letters) : 0;
    for (uint64_t i = 0; i < letter_count; i++) flags[i] = 0;
    if (count <= 1 || !vector) return count < 1 ? 0 : count;

    const char* name = vector[0] ? vector[0] : "";
    // Options are dropped from the vector and operands collected behind them; the
    // options themselves are kept in a scratch list so the vector stays a permutation.
    Owned<char*> operands(xallocate_array<char*>(static_cast<uint64_t>(count)));
    Owned<char*> options(xallocate_array<char*>(static_cast<uint64_t>(count)));
    int operand_count = 0;
    int option_count = 0;
    bool options_ended = false;
    for (int i = 1; i < count; i++) {
        char* arg = vector[i];
        if (!arg) break;
        if (options_ended) {
            operands[operand_count++] = arg;
            continue;
        }
        if (arg[0] == '-' && arg[1] == '-' && arg[2] == '\0') {
            options_ended = true;
            options[option_count++] = arg;
            continue;
        }
        if (arg[0] != '-' || arg[1] == '\0' || is_digit(static_cast<unsigned char>(arg[1]))) {
            operands[operand_count++] = arg;
            continue;
        }
        for (const char* p = arg + 1; *p; p++) {
            const char* found = nullptr;
            for (uint64_t k = 0; k < letter_count; k++)
                if (letters[k] == *p) {
                    found = letters + k;
                    break;
                }
            if (!found) {
                print_error("%s: unknown option -%c\n", name, *p);
                const char* usage = usage_of(name);
                if (usage) print_error("usage: %s\n", usage);
                return -1;
            }
            flags[found - letters] = 1;
        }
        options[option_count++] = arg;
    }
    // Options (and "--") first, then the operands in their order.
    int k = 1;
    for (int i = 0; i < option_count; i++) vector[k++] = options[i];
    const int first_operand = k;
    for (int i = 0; i < operand_count; i++) vector[k++] = operands[i];
    return first_operand;
}

}  // namespace tarn
