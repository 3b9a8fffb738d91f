#include "platform/sharedlibrary.h"

#include <gtest/gtest.h>

#include <cmath>

namespace {

// libm is in every process; what matters is that a function found calls the real one, and
// that a missing library or function is a refusal with a reason, never a crash.
TEST(SharedLibraryTest, FindsRealFunctionsAndRefusesWhatIsMissing) {
    platform::SharedLibrary maths("libm.so.6");
    ASSERT_TRUE(maths.Ok()) << maths.Problem();
    auto* root = maths.Find<double(double)>("sqrt");
    ASSERT_NE(root, nullptr);
    EXPECT_DOUBLE_EQ(root(2.0), std::sqrt(2.0));
    EXPECT_TRUE(maths.Problem().empty());

    EXPECT_EQ(maths.Find<double(double)>("no_such_function_here"), nullptr);
    EXPECT_NE(maths.Problem().find("no_such_function_here"), std::string::npos);

    platform::SharedLibrary missing("libsonvex-no-such-library.so.9");
    EXPECT_FALSE(missing.Ok());
    EXPECT_NE(missing.Problem().find("libsonvex-no-such-library.so.9"), std::string::npos);
    EXPECT_EQ(missing.Find<double(double)>("sqrt"), nullptr);
}

}  // namespace
