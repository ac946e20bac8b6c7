// Command-line syntax: words separated by blanks, double quotes, and > / >> redirection.
#pragma once
#include "runtime/util.h"

namespace tarn {

// Splits line into a newly allocated argument vector (each word allocated, the vector
// ending with a null entry; free it with free_words). Returns null on a syntax error, with
// *error set to a static message and nothing left allocated.
// With redirect_target null, '>' is an ordinary character; otherwise the last redirection
// of the line (or null) is stored there, allocated, with *append set for ">>".
// With raw set, double quotes group blanks but stay in the words.
char** split_command_line(const char* line, int* count, const char** error,
                          char** redirect_target, bool* append, bool raw);

// The same without redirection and without raw mode (alias values, the Shell protocol).
char** split_words(const char* line, int* count, const char** error);

// Frees every word and then the vector (null is allowed).
void free_words(char** vector);

}  // namespace tarn
