// Where the driver keeps its files by default, and how it joins paths on this system.
#pragma once

#include <string>

namespace plat {

// The directory of the driver's default log files, ending in the separator. On Windows this is
// "c:\", as the driver has always used. Elsewhere there is no such shared root, so each user gets
// a state directory: "$XDG_STATE_HOME/mirel/" when that variable holds an absolute path, else
// "$HOME/.local/state/mirel/", else the current directory "./". The directory is not created
// here: whoever first writes into it does so, so that nothing appears on disk until logging is on.
// Like every driver path it is 1251 text (platform/files.h).
std::string DefaultLogDirectory();

// The native separator of path components: '\\' on Windows, '/' elsewhere.
char PathSeparator();

}  // namespace plat
