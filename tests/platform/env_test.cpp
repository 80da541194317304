#include "platform/env.h"

#include <gtest/gtest.h>

#include <cstdlib>

namespace morvane {
namespace {

TEST(GetEnv, SetEmptyAndUnset) {
  ::setenv("MORVANE_TEST_VALUE", "sim", 1);
  ::setenv("MORVANE_TEST_EMPTY", "", 1);
  ::unsetenv("MORVANE_TEST_UNSET");
  EXPECT_EQ(GetEnv("MORVANE_TEST_VALUE"), "sim");
  EXPECT_EQ(GetEnv("MORVANE_TEST_EMPTY"), "");
  EXPECT_EQ(GetEnv("MORVANE_TEST_UNSET"), std::nullopt);
  ::unsetenv("MORVANE_TEST_VALUE");
  EXPECT_EQ(GetEnv("MORVANE_TEST_VALUE"), std::nullopt);
  ::unsetenv("MORVANE_TEST_EMPTY");
}

TEST(GetEnv, NamesThatCannotBeVariables) {
  ::setenv("MORVANE_TEST_A", "1", 1);
  EXPECT_EQ(GetEnv(""), std::nullopt);
  EXPECT_EQ(GetEnv("MORVANE_TEST_A=1"), std::nullopt);
  EXPECT_EQ(GetEnv(std::string_view("MORVANE_TEST_A\0x", 16)), std::nullopt);
  EXPECT_EQ(GetEnv(std::string_view("MORVANE_TEST_AB", 14)), "1");  // not NUL-terminated view
  ::unsetenv("MORVANE_TEST_A");
}

}  // namespace
}  // namespace morvane
