// Copies of text into the driver's fixed-size character fields. Every such copy goes through
// CopyText: it never writes past the field, always ends it with a NUL, and is safe when the text
// lies inside the field itself (a name handed back to the method that keeps it, or a tail of it),
// where a formatted print or a string copy would read what it is overwriting.
#pragma once

#include <cstddef>

// Copies at most `limit` characters of `text` (a null text is an empty one) into `field` of
// `size` bytes, cut to `size - 1`; the number of characters copied.
size_t CopyText(char* field, size_t size, const char* text, size_t limit = static_cast<size_t>(-1));

template <size_t N>
size_t CopyText(char (&field)[N], const char* text, size_t limit = N - 1) {
  return CopyText(field, N, text, limit);
}
