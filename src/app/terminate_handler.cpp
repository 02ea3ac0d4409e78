// What ends the program when an exception escapes everything (which the
// threads' top-level handlers are there to prevent). The runtime's default
// handler prints the exception's demangled type to a console this windowed
// program does not have, and brings the whole demangler along (about a sixth
// of the exe); aborting at once is all that is left to do anyway.
#include <cstdlib>

#if defined(__GLIBCXX__)
namespace __gnu_cxx {
// Defined here, this takes the place of the runtime library's own definition,
// which would pull in the demangler.
void __verbose_terminate_handler() { std::abort(); }
}  // namespace __gnu_cxx
#endif
