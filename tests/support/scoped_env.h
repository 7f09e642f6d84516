#pragma once

#include <stdlib.h>
#include <time.h>

#include <cstdlib>
#include <string>

// Sets an environment variable for the life of the object and puts the old value back. The time
// zone is re-read each time, so the object serves for TZ as well.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const char* value) : name_(name) {
    const char* old = std::getenv(name);
    hadOld_ = old != nullptr;
    if (hadOld_) old_ = old;
    setenv(name, value, 1);
    tzset();
  }
  ~ScopedEnv() {
    if (hadOld_) {
      setenv(name_.c_str(), old_.c_str(), 1);
    } else {
      unsetenv(name_.c_str());
    }
    tzset();
  }

 private:
  std::string name_;
  bool hadOld_ = false;
  std::string old_;
};
