#include "device/text_field.h"

#include <cstring>

size_t CopyText(char* field, size_t size, const char* text, size_t limit) {
  if (!field || size == 0) return 0;
  const size_t room = size - 1 < limit ? size - 1 : limit;
  size_t length = 0;
  // The length is taken before anything is written, so that a text inside the field keeps its end.
  if (text) {
    while (length < room && text[length] != '\0') ++length;
  }
  if (length > 0 && text != field) std::memmove(field, text, length);
  field[length] = '\0';
  return length;
}
