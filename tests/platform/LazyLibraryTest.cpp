// Libraries opened on first use: found, missing, missing a function, hidden
// by the tests' switch, and loaded once.
#include "platform/LazyLibrary.h"

#include <gtest/gtest.h>

#include <cstdlib>

namespace sonarvex {
namespace {

using CosFunction = double(double);

TEST(LazyLibrary, LoadsTheFilesAndFindsTheirFunctions) {
  LazyLibrary lib({"libm.so.6"});
  EXPECT_FALSE(lib.Loaded());
  CosFunction* cosine = nullptr;
  ASSERT_TRUE(lib.Load([&](LazyLibrary& l) { return l.Find("cos", cosine); })) << lib.Error();
  EXPECT_TRUE(lib.Loaded());
  EXPECT_EQ(lib.Error(), "");
  EXPECT_DOUBLE_EQ(cosine(0.0), 1.0);
}

TEST(LazyLibrary, AMissingFileIsNamedInRussian) {
  LazyLibrary lib({"libm.so.6", "libsonarvex-no-such-library.so.7"});
  bool resolved = false;
  EXPECT_FALSE(lib.Load([&](LazyLibrary&) { return resolved = true; }));
  EXPECT_FALSE(resolved) << "nothing is looked up in a library that is not all there";
  EXPECT_FALSE(lib.Loaded());
  EXPECT_EQ(lib.Error().rfind("Не удалось загрузить библиотеку libsonarvex-no-such-library.so.7", 0), 0u)
      << lib.Error();
}

TEST(LazyLibrary, AMissingFunctionIsNamedAndTheLibraryIsNotUsed) {
  LazyLibrary lib({"libm.so.6"});
  CosFunction* cosine = nullptr;
  CosFunction* missing = nullptr;
  EXPECT_FALSE(lib.Load([&](LazyLibrary& l) {
    const bool a = l.Find("sonarvex_no_such_function", missing);
    const bool b = l.Find("cos", cosine);
    return a && b;
  }));
  EXPECT_FALSE(lib.Loaded());
  EXPECT_EQ(lib.Error(), "В библиотеке libm.so.6 нет функции sonarvex_no_such_function");
}

TEST(LazyLibrary, LoadsOnceAndKeepsTheFirstAnswer) {
  LazyLibrary lib({"libm.so.6"});
  int calls = 0;
  auto resolve = [&](LazyLibrary&) { return ++calls == 1; };
  EXPECT_TRUE(lib.Load(resolve));
  EXPECT_TRUE(lib.Load(resolve));
  EXPECT_EQ(calls, 1);
}

TEST(LazyLibrary, TheTestSwitchHidesLibrariesByTheStartOfTheirNames) {
  ::setenv("SONARVEX_HIDE_LIBRARIES", "libsonarvex-other,libm.so", 1);
  EXPECT_TRUE(LazyLibrary::Hidden("libm.so.6"));
  EXPECT_FALSE(LazyLibrary::Hidden("libmp3lame.so.0"));
  EXPECT_FALSE(LazyLibrary::Hidden("libc.so.6"));
  LazyLibrary lib({"libm.so.6"});
  EXPECT_FALSE(lib.Load([](LazyLibrary&) { return true; }));
  ::unsetenv("SONARVEX_HIDE_LIBRARIES");
  EXPECT_NE(lib.Error().find("libm.so.6"), std::string::npos) << lib.Error();
  EXPECT_FALSE(LazyLibrary::Hidden("libm.so.6"));
}

}  // namespace
}  // namespace sonarvex
