// What each table of a library opened on first use declares (see
// platform/LazyLibrary.h), from the list of its functions:
//   struct Functions  the pointers, one a function of the list;
//   Available()       loads the library on the first call; true when it is
//                     there with every function of the list;
//   Loaded()          true when an earlier call loaded it (loads nothing);
//   Error()           why it is not (Russian, naming the file); empty when
//                     it is;
//   Api()             the table. Callers ask Available() first; a call
//                     without the library ends the program with Error() on
//                     stderr.
#pragma once

#include <string>

#define SONARVEX_LAZY_LIBRARY_FIELD(f) decltype(&::f) f = nullptr;
#define SONARVEX_LAZY_LIBRARY_API(LIST)     \
  struct Functions {                        \
    LIST(SONARVEX_LAZY_LIBRARY_FIELD)       \
  };                                        \
  bool Available();                         \
  bool Loaded();                            \
  std::string Error();                      \
  const Functions& Api();
