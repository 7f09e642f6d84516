#include <cstdlib>

#include "platform/codepage.h"
#include "platform/paths.h"

namespace plat {

// The variables hold UTF-8 names; the driver's paths are 1251 text, which the file calls convert
// back.
std::string DefaultLogDirectory() {
  const char* state = std::getenv("XDG_STATE_HOME");
  // The base directory rules ignore relative values of the variable.
  if (state != nullptr && state[0] == '/') return Utf8ToCp1251(state) + "/mirel/";
  const char* home = std::getenv("HOME");
  if (home != nullptr && home[0] != '\0') return Utf8ToCp1251(home) + "/.local/state/mirel/";
  return "./";
}

char PathSeparator() {
  return '/';
}

}  // namespace plat
