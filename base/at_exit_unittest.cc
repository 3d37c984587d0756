#include "base/at_exit.h"

#include <string>

#include <gtest/gtest.h>

namespace base {
namespace {

std::string* g_ran = nullptr;

void Append(void* text) { *g_ran += static_cast<const char*>(text); }

void RegisterLate(void* text) {
  Append(text);
  ExitCallbackStack::Register(&Append, const_cast<char*>("late"));
}

class ExitCallbackStackTest : public testing::Test {
 protected:
  void SetUp() override { g_ran = &ran_; }
  void TearDown() override { g_ran = nullptr; }
  std::string ran_;
};

TEST_F(ExitCallbackStackTest, RegisteringWithoutAStackNeverRuns) {
  ExitCallbackStack::Register(&Append, const_cast<char*>("orphan"));
  { ExitCallbackStack later; }
  EXPECT_EQ("", ran_);
}

TEST_F(ExitCallbackStackTest, NestedStackShadowsTheOuterOne) {
  {
    ExitCallbackStack outer;
    ExitCallbackStack::Register(&Append, const_cast<char*>("outer "));
    {
      ExitCallbackStack inner;
      ExitCallbackStack::Register(&Append, const_cast<char*>("inner "));
    }
    EXPECT_EQ("inner ", ran_);
    ExitCallbackStack::Register(&Append, const_cast<char*>("outer-again "));
    ExitCallbackStack::Register(&Append, const_cast<char*>("newest "));
  }
  EXPECT_EQ("inner newest outer-again outer ", ran_);
}

TEST_F(ExitCallbackStackTest, CallbackRegisteredDuringUnwindingDoesNotRun) {
  {
    ExitCallbackStack stack;
    ExitCallbackStack::Register(&RegisterLate, const_cast<char*>("first "));
  }
  EXPECT_EQ("first ", ran_);
}

}  // namespace
}  // namespace base
