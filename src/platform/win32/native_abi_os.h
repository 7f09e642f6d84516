// How the host's native add-in interfaces are laid out on Windows. The host is built by the
// system's own compiler: its methods are __stdcall (what 32-bit code notices; 64-bit code has one
// convention), and a virtual destructor fills one vtable slot, where mingw's C++ ABI would give it
// two. The slot is therefore a plain virtual method of ours that keeps the place: neither side
// destroys an object of the other through it (the component's objects end in DestroyObject).
#pragma once

#define MIREL_NATIVE_CALL __stdcall

#define MIREL_NATIVE_DESTRUCTOR(Interface) \
  virtual void MIREL_NATIVE_CALL DestructorSlot() {}
