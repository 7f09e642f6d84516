#include "platform/paths.h"

namespace plat {

std::string DefaultLogDirectory() {
  return "c:\\";
}

char PathSeparator() {
  return '\\';
}

}  // namespace plat
