// How the host's native add-in interfaces are laid out by this system's compilers. On Linux the
// host and the component follow the Itanium C++ ABI: a virtual destructor fills two vtable slots
// (the complete and the deleting destructor), and methods use the one calling convention there is.
#pragma once

#define MIREL_NATIVE_CALL

// The destructor every native interface starts with, as the host's compiler lays it out.
#define MIREL_NATIVE_DESTRUCTOR(Interface) virtual ~Interface() = default;
