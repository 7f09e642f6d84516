#include <cstdlib>

#include "platform/paths.h"

namespace plat {

std::string DefaultLogDirectory() {
  const char* state = std::getenv("XDG_STATE_HOME");
  // The base directory rules ignore relative values of the variable.
  if (state != nullptr && state[0] == '/') return std::string(state) + "/mirel/";
  const char* home = std::getenv("HOME");
  if (home != nullptr && home[0] != '\0') return std::string(home) + "/.local/state/mirel/";
  return "./";
}

char PathSeparator() {
  return '/';
}

}  // namespace plat
