#include "CtlArguments.h"

#include <gtest/gtest.h>

using namespace QxServiceCtl;

namespace {

ParsedArguments Parse(const std::vector<std::wstring>& arguments)
{
    return ParseArguments(arguments);
}

} // namespace

TEST(CtlArguments, InstallTakesEveryOption)
{
    const auto parsed =
        Parse({L"install", L"Svc", L"--modules", L"A.dll;B.dll", L"--display-name-id", L"0x10", L"--start", L"auto",
               L"--depend", L"Dep1", L"Dep2", L"--self-defence", L"--log-compressor", L"--replace"});
    ASSERT_TRUE(parsed.command) << std::string(parsed.error.begin(), parsed.error.end());
    const Command& command = *parsed.command;
    EXPECT_EQ(CommandKind::Install, command.kind);
    EXPECT_EQ(L"Svc", command.target);
    EXPECT_EQ(L"A.dll;B.dll", command.install.modules);
    EXPECT_EQ(16u, command.install.displayNameId);
    EXPECT_EQ(StartType::Auto, command.install.start);
    EXPECT_EQ((std::vector<std::wstring>{L"Dep1", L"Dep2"}), command.install.dependencies);
    const auto repeated =
        Parse({L"install", L"Svc", L"--modules", L"A", L"--depend", L"A/B", L"--depend", L"C", L"/D/"});
    ASSERT_TRUE(repeated.command);
    EXPECT_EQ((std::vector<std::wstring>{L"A", L"B", L"C", L"D"}), repeated.command->install.dependencies)
        << "repeated --depend accumulate, and / separates as in sc";
    EXPECT_TRUE(command.install.selfDefence);
    EXPECT_TRUE(command.install.logCompressor);
    EXPECT_TRUE(command.install.replace);
}

TEST(CtlArguments, InstallDefaultsToDemandStartWithoutFlags)
{
    const auto parsed = Parse({L"install", L"Svc", L"--modules", L"A.dll"});
    ASSERT_TRUE(parsed.command);
    EXPECT_EQ(StartType::Demand, parsed.command->install.start);
    EXPECT_EQ(0u, parsed.command->install.displayNameId);
    EXPECT_FALSE(parsed.command->install.selfDefence);
    EXPECT_FALSE(parsed.command->install.replace);
}

TEST(CtlArguments, RefusalsNameWhatIsWrong)
{
    EXPECT_EQ(L"no command given: see QxServiceCtl --help", Parse({}).error);
    EXPECT_EQ(L"unknown command \"start\": see QxServiceCtl --help", Parse({L"start"}).error);
    EXPECT_EQ(L"install: <service> is missing", Parse({L"install"}).error);
    EXPECT_EQ(L"install: --modules <list> is required", Parse({L"install", L"Svc"}).error);
    EXPECT_EQ(L"install: --start takes auto or demand, not \"boot\"",
              Parse({L"install", L"Svc", L"--modules", L"A", L"--start", L"boot"}).error);
    EXPECT_EQ(L"install: --display-name-id needs a number from 0 to 4294967295, not \"4294967296\"",
              Parse({L"install", L"Svc", L"--modules", L"A", L"--display-name-id", L"4294967296"}).error);
    EXPECT_EQ(L"install: --depend needs at least one service",
              Parse({L"install", L"Svc", L"--modules", L"A", L"--depend", L"--replace"}).error);
    EXPECT_EQ(L"install: unknown option \"--forced\"",
              Parse({L"install", L"Svc", L"--modules", L"A", L"--forced"}).error);
    EXPECT_EQ(L"uninstall: unknown option \"--purge\"", Parse({L"uninstall", L"Svc", L"--purge"}).error);
    EXPECT_EQ(L"run: --seconds needs a whole number of seconds, not \"soon\"",
              Parse({L"run", L"Svc", L"--seconds", L"soon"}).error);
    EXPECT_EQ(L"status: unexpected argument \"more\"", Parse({L"status", L"Svc", L"more"}).error);
    EXPECT_EQ(L"explain: <code> is missing", Parse({L"explain"}).error);
    EXPECT_EQ(L"explain: \"E_FAIL\" is no code: give a decimal number, a negative one as %ERRORLEVEL% shows it, "
              L"or 0x and hexadecimal digits",
              Parse({L"explain", L"E_FAIL"}).error);
    EXPECT_EQ(L"--version takes no arguments, not \"x\"", Parse({L"--version", L"x"}).error);
}

TEST(CtlArguments, RunTakesSecondsAndTheOtherCommandsTheirTarget)
{
    const auto run = Parse({L"run", L"C:\\m\\A.dll", L"--seconds", L"5"});
    ASSERT_TRUE(run.command);
    EXPECT_EQ(CommandKind::Run, run.command->kind);
    EXPECT_EQ(L"C:\\m\\A.dll", run.command->target);
    EXPECT_EQ(5u, run.command->seconds.value_or(0));
    EXPECT_FALSE(Parse({L"run", L"Svc"}).command->seconds);
    EXPECT_EQ(CommandKind::Explain, Parse({L"explain", L"-1"}).command->kind);
    EXPECT_EQ(CommandKind::Uninstall, Parse({L"uninstall", L"Svc"}).command->kind);
    EXPECT_FALSE(Parse({L"uninstall", L"Svc"}).command->force);
    EXPECT_TRUE(Parse({L"uninstall", L"Svc", L"--force"}).command->force);
    EXPECT_TRUE(Parse({L"install", L"Svc", L"--modules", L"A", L"--replace", L"--force"}).command->install.force);
    EXPECT_EQ(CommandKind::Validate, Parse({L"validate", L"Svc"}).command->kind);
    EXPECT_EQ(CommandKind::Help, Parse({L"--help"}).command->kind);
    EXPECT_EQ(CommandKind::Help, Parse({L"--help"}).command->helpFor);
    for (const std::vector<std::wstring>& asked : {std::vector<std::wstring>{L"install", L"--help"},
                                                   {L"help", L"install"},
                                                   {L"install", L"Svc", L"-h"},
                                                   {L"install", L"/?"}}) {
        const auto help = Parse(asked);
        ASSERT_TRUE(help.command);
        EXPECT_EQ(CommandKind::Help, help.command->kind);
        EXPECT_EQ(CommandKind::Install, help.command->helpFor);
    }
    EXPECT_EQ(L"help: unknown command \"start\": see QxServiceCtl --help", Parse({L"help", L"start"}).error);
}

TEST(CtlArguments, NumbersAreDecimalOrHexadecimalWithin32Bits)
{
    EXPECT_EQ(4294967295u, ParseUnsigned(L"4294967295").value_or(0));
    EXPECT_EQ(0xABCDu, ParseUnsigned(L"0xabCD").value_or(0));
    EXPECT_FALSE(ParseUnsigned(L""));
    EXPECT_FALSE(ParseUnsigned(L"0x"));
    EXPECT_FALSE(ParseUnsigned(L"12a"));
    EXPECT_FALSE(ParseUnsigned(L"0x100000000"));
    EXPECT_FALSE(ParseUnsigned(L"-1"));
}
