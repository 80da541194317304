#include "platform/debugout.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace morvane {
namespace {

TEST(DebugOutput, GoesToStandardErrorWithoutSinkEachTextALine) {
  ::testing::internal::CaptureStderr();
  DebugOutput(" Set 'SCL' ERROR.\n");
  DebugOutput("Set FE register.");
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), " Set 'SCL' ERROR.\nSet FE register.\n");
}

TEST(DebugOutput, SinkSeesTextsAndIsReplacedAndRestored) {
  std::vector<std::string> first, second;
  const DebugSink none = SetDebugSink([&](std::string_view t) { first.emplace_back(t); });
  EXPECT_FALSE(none);  // standard error was in place

  DebugOutput("Set FE register.");
  DebugOutput(std::string_view("a\0b", 3));  // texts are passed whole
  EXPECT_EQ(first, (std::vector<std::string>{"Set FE register.", std::string("a\0b", 3)}));

  DebugSink previous = SetDebugSink([&](std::string_view t) { second.emplace_back(t); });
  ASSERT_TRUE(previous);
  DebugOutput("x");
  EXPECT_EQ(second, std::vector<std::string>{"x"});
  EXPECT_EQ(first.size(), 2u);
  previous("y");  // the returned sink is the first one
  EXPECT_EQ(first.back(), "y");

  // An empty sink brings standard error back.
  EXPECT_TRUE(SetDebugSink({}));
  ::testing::internal::CaptureStderr();
  DebugOutput("z");
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), "z\n");
  EXPECT_EQ(second.size(), 1u);
}

}  // namespace
}  // namespace morvane
