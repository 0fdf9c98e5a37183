// Exception texts carry the description Common gives a failure. The process installs that
// describer at start-up; a test executable that checks such texts compiles this file in, so the
// describer is there before its first test.
#include <gtest/gtest.h>

#include "Common/UiLanguage.h"
#include "ResKit/Logger/LogUtils.h"

namespace {

class ErrorDescriberEnvironment final : public ::testing::Environment {
public:
    void SetUp() override { LogUtils::InstallErrorDescriber(&GetErrorDescription); }
    void TearDown() override { LogUtils::InstallErrorDescriber(nullptr); }
};

const ::testing::Environment* const g_errorDescriber =
    ::testing::AddGlobalTestEnvironment(new ErrorDescriberEnvironment);

} // namespace
