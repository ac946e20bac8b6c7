// The option parser shared by the built-in commands.
#pragma once
#include "runtime/util.h"

namespace tarn {

// Examines vector[1..count-1]: "-" followed by a non-digit is a cluster of option letters,
// each of which must occur in letters and sets flags[its index] (flags holds one byte per
// letter and is cleared first); "--" ends the options; anything else is an operand.
// On success the operands are moved, in order, to the end of the vector and the index of
// the first one is returned (count when there are none). An unknown letter prints
// "NAME: unknown option -X" and the command's usage line, and returns -1: the command then
// returns 2 (kExitUsage).
int parse_options(int count, char** vector, const char* letters, uint8_t* flags);

}  // namespace tarn
