// The expected-difference check the Wine tests mark known Wine differences with: on Wine the Windows
// behaviour must fail, and its success fails the test, so that a Wine that catches up is noticed; on
// Windows it is an ordinary expectation.
#include <gtest/gtest-spi.h>
#include <gtest/gtest.h>

#include "WineDifferences.h"

namespace {

using Qx::Testing::ExpectWindowsBehaviour;

TEST(ExpectWindowsBehaviour, FailsWhereTheDifferenceIsGone)
{
    if (Qx::Testing::RunningOnWine()) {
        EXPECT_NONFATAL_FAILURE(ExpectWindowsBehaviour(true, "a difference that is gone"),
                                "Wine now behaves like Windows: a difference that is gone");
        ExpectWindowsBehaviour(false, "the self-test's own known difference");
    } else {
        EXPECT_NONFATAL_FAILURE(ExpectWindowsBehaviour(false, "a difference"), "Windows behaviour not seen");
        ExpectWindowsBehaviour(true, "a difference");
    }
}

} // namespace
