#include "ResKit/ServiceHost/CommandLine.h"

#include <gtest/gtest.h>

#include "FakePlatform.h"

using Qx::Testing::FakePlatform;

namespace {

using Parameters = std::vector<std::wstring>;

TEST(CommandLineTest, SplitsAtEveryHyphenKeepingSpaces)
{
    EXPECT_EQ(SplitParameters(L"-name=Foo"), (Parameters{L"name=Foo"}));
    EXPECT_EQ(SplitParameters(L"-name=My-Service"), (Parameters{L"name=My", L"Service"}));
    EXPECT_EQ(SplitParameters(L"lead -name=Foo  "), (Parameters{L"lead ", L"name=Foo  "}));
    EXPECT_EQ(SplitParameters(L"--name=Foo-"), (Parameters{L"name=Foo"}));
    EXPECT_EQ(SplitParameters(L"/name=Foo"), (Parameters{L"/name=Foo"}));
    EXPECT_TRUE(SplitParameters(L"").empty());
    EXPECT_TRUE(SplitParameters(L"---").empty());
}

TEST(CommandLineTest, RecognisesTheNameKeyOnItsFirstFourCharacters)
{
    FakePlatform platform;
    EXPECT_TRUE(IsServiceNameParameter(L"name=Foo"));
    EXPECT_TRUE(IsServiceNameParameter(L"NAME=Foo"));
    EXPECT_TRUE(IsServiceNameParameter(L"names=Foo"));
    EXPECT_TRUE(IsServiceNameParameter(L"name"));
    EXPECT_FALSE(IsServiceNameParameter(L"nam"));
    EXPECT_FALSE(IsServiceNameParameter(L"/name=Foo"));
    EXPECT_FALSE(IsServiceNameParameter(L"RegServer"));
}

TEST(CommandLineTest, LowerCasingFallsBackToTheSystemLocaleAndGrowsItsBuffer)
{
    FakePlatform platform;
    platform.text.mapStringFailures = {Qx::kErrorInvalidParameter, Qx::kErrorInsufficientBuffer};
    EXPECT_TRUE(IsServiceNameParameter(L"NaMe=Foo"));
    EXPECT_EQ(platform.text.mapStringLocales,
              (std::vector<std::uint32_t>{Qx::Platform::kLocaleInvariant, Qx::Platform::kLocaleSystemDefault,
                                          Qx::Platform::kLocaleSystemDefault, Qx::Platform::kLocaleSystemDefault}));

    platform.text.mapStringFailures = {5};
    EXPECT_FALSE(IsServiceNameParameter(L"name=Foo")) << "an unmappable key is no service-name parameter";
}

TEST(CommandLineTest, TakesTheValueAfterTheFirstSeparator)
{
    auto value = [](std::wstring_view parameter) { return ExtractServiceNameValue(parameter); };
    EXPECT_EQ(value(L"name=Foo").value, L"Foo");
    EXPECT_EQ(value(L"names=Foo").value, L"Foo");
    EXPECT_EQ(value(L"name Foo").value, L"Foo");
    EXPECT_EQ(value(L"name = Foo").value, L"= Foo") << "the space is the first separator";
    EXPECT_EQ(value(L"name=Foo   ").value, L"Foo");
    EXPECT_EQ(value(L"name=\tFoo\t ").value, L"\tFoo\t") << "only spaces are trimmed";
    EXPECT_FALSE(value(L"name=").present);
    EXPECT_FALSE(value(L"name").present);
    EXPECT_TRUE(value(L"name=  ").present);
    EXPECT_EQ(value(L"name=  ").value, L"");
}

TEST(CommandLineTest, RegistrationSwitchesStopWithZero)
{
    FakePlatform platform;
    const std::wstring program = L"\"C:\\Qx\\QxServiceHost.exe\" ";
    for (const wchar_t* line : {L"-RegServer", L"/regserver", L"-UnregServer", L"-UNREGSERVERPERUSER",
                                L"/RegServerPerUser", L"-name=Foo -RegServer", L"-RegServer\t-x"}) {
        const auto decision = ParseCommandLine(program + line);
        EXPECT_FALSE(decision.startService) << line;
        EXPECT_EQ(decision.exitCode, 0) << line;
    }
    for (const wchar_t* line : {L"-RegServerX", L"RegServer", L"-name=Foo", L"-Reg", L"", L"-/RegServe"}) {
        EXPECT_TRUE(ParseCommandLine(program + line).startService) << line;
    }
}

} // namespace
