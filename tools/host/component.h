// Creating the component as the host platform does on this system. On Windows that is COM itself:
// an apartment for the calling thread and CoCreateInstance by the ProgID, so the DLL must be
// registered. Elsewhere the component is linked in and its class factory is asked directly.
#pragma once

#include <string>

#include "addin/host_interfaces.h"

// The COM runtime of the calling thread, for as long as the object lives; the component and every
// interface taken from it must be released before it ends.
class ComponentRuntime {
 public:
  ComponentRuntime();
  ~ComponentRuntime();
  ComponentRuntime(const ComponentRuntime&) = delete;
  ComponentRuntime& operator=(const ComponentRuntime&) = delete;
  // False with a message when the runtime could not be started.
  bool Ready(std::string* error) const;

 private:
  long m_hr;
};

// A new add-in object, asked for IInitDone. False with a message on failure.
bool CreateComponent(IInitDone** ppInitDone, std::string* error);
