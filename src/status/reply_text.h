// Bounded text helpers shared by the reply parsing and the poll cycle.
#pragma once
#include <cstddef>

// The most characters a status field holds.
constexpr size_t FIELD_TEXT_MAX = 31;

// Copies at most FIELD_TEXT_MAX of the length characters and terminates; the length copied.
size_t copy_cut(char* field, const char* from, size_t length);

// Reads text (up to end or its first NUL) with a pattern holding one "%s", as sscanf would:
// a blank matches any run of white space, other characters must match exactly, the word
// skips leading white space. On a match the word, cut to FIELD_TEXT_MAX, goes to word
// (FIELD_TEXT_MAX + 1 bytes) and true is returned. A null text matches nothing.
bool scan_word(const char* text, const char* end, const char* pattern, char* word);
// scan_word over the whole terminated text (a null text matches nothing).
bool scan_text(const char* text, const char* pattern, char* word);
