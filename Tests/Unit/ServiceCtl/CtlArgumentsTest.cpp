#include "CtlArguments.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

using namespace QxServiceCtl;

namespace {

ParsedArguments Parse(const std::vector<std::wstring>& arguments)
{
    return ParseArguments(arguments);
}

} // namespace

TEST(CtlArguments, InstallAndConfigTakeEverySetting)
{
    const std::vector<std::wstring> settings = {L"--modules",
                                                L"A.dll;B.dll",
                                                L"--display-name-id",
                                                L"0x10",
                                                L"--display-name",
                                                L"Free text",
                                                L"--description",
                                                L"What it does",
                                                L"--start",
                                                L"delayed",
                                                L"--depend",
                                                L"Dep1",
                                                L"Dep2",
                                                L"--account",
                                                L"NT AUTHORITY\\LocalService",
                                                L"--password",
                                                L"",
                                                L"--restart",
                                                L"on-failure",
                                                L"--restart-delay",
                                                L"5",
                                                L"--reset-after",
                                                L"600",
                                                L"--self-defence",
                                                L"--no-log-compressor"};
    for (const wchar_t* name : {L"install", L"config"}) {
        std::vector<std::wstring> arguments = {name, L"Svc"};
        arguments.insert(arguments.end(), settings.begin(), settings.end());
        const auto parsed = Parse(arguments);
        ASSERT_TRUE(parsed.command) << std::string(parsed.error.begin(), parsed.error.end());
        const ServiceSettings& given = parsed.command->Get<InstallOptions>().settings;
        EXPECT_EQ(L"Svc", parsed.command->target);
        EXPECT_EQ(L"A.dll;B.dll", given.modules);
        EXPECT_EQ(16u, given.displayNameId);
        EXPECT_EQ(L"Free text", given.displayName);
        EXPECT_EQ(L"What it does", given.description);
        EXPECT_EQ(StartType::Delayed, given.start);
        EXPECT_EQ((std::vector<std::wstring>{L"Dep1", L"Dep2"}), given.dependencies);
        EXPECT_EQ(L"NT AUTHORITY\\LocalService", given.account);
        EXPECT_EQ(L"", given.password);
        EXPECT_EQ(RestartPolicy::OnFailure, given.restart);
        EXPECT_EQ(5u, given.restartDelaySeconds);
        EXPECT_EQ(600u, given.resetAfterSeconds);
        EXPECT_EQ(true, given.selfDefence);
        EXPECT_EQ(false, given.logCompressor);
    }
    const auto repeated =
        Parse({L"install", L"Svc", L"--modules", L"A", L"--depend", L"A/B", L"--depend", L"C", L"/D/"});
    ASSERT_TRUE(repeated.command);
    EXPECT_EQ((std::vector<std::wstring>{L"A", L"B", L"C", L"D"}),
              repeated.command->Get<InstallOptions>().settings.dependencies)
        << "repeated --depend accumulate, and / separates as in sc";
    const auto cleared = Parse({L"config", L"Svc", L"--no-depend"});
    ASSERT_TRUE(cleared.command);
    EXPECT_EQ(std::vector<std::wstring>{}, cleared.command->Get<InstallOptions>().settings.dependencies);
    EXPECT_FALSE(cleared.command->Get<InstallOptions>().settings.modules) << "config changes only what is given";
    EXPECT_FALSE(cleared.command->Get<InstallOptions>().settings.start);
}

TEST(CtlArguments, RefusalsNameWhatIsWrong)
{
    EXPECT_EQ(L"no command given: see QxServiceCtl --help", Parse({}).error);
    EXPECT_EQ(L"unknown command \"begin\": see QxServiceCtl --help", Parse({L"begin"}).error);
    EXPECT_EQ(L"install: <service> is missing", Parse({L"install"}).error);
    EXPECT_EQ(L"install: --modules <list> is required", Parse({L"install", L"Svc"}).error);
    EXPECT_EQ(L"install: --start takes auto, delayed, demand, disabled, not \"boot\"",
              Parse({L"install", L"Svc", L"--modules", L"A", L"--start", L"boot"}).error);
    EXPECT_EQ(L"config: --json shows the configuration and takes no setting to change",
              Parse({L"config", L"Svc", L"--json", L"--start", L"auto"}).error);
    EXPECT_EQ(L"config: --password needs --account", Parse({L"config", L"Svc", L"--password", L"pw"}).error);
    EXPECT_EQ(L"config: --restart-delay and --reset-after need --restart on-failure",
              Parse({L"config", L"Svc", L"--restart", L"never", L"--reset-after", L"1"}).error);
    EXPECT_EQ(L"install: --restart-delay needs a whole number of seconds up to 4294967, not \"4294968\"",
              Parse({L"install", L"Svc", L"--modules", L"A", L"--restart-delay", L"4294968"}).error);
    EXPECT_EQ(L"config: --description needs the text", Parse({L"config", L"Svc", L"--description"}).error);
    EXPECT_EQ(L"config: unknown option \"--replace\"", Parse({L"config", L"Svc", L"--replace"}).error);
    EXPECT_EQ(L"install: --display-name-id needs a number from 0 to 4294967295, not \"4294967296\"",
              Parse({L"install", L"Svc", L"--modules", L"A", L"--display-name-id", L"4294967296"}).error);
    EXPECT_EQ(L"install: --depend needs at least one service",
              Parse({L"install", L"Svc", L"--modules", L"A", L"--depend", L"--replace"}).error);
    EXPECT_EQ(L"install: unknown option \"--forced\"",
              Parse({L"install", L"Svc", L"--modules", L"A", L"--forced"}).error);
    EXPECT_EQ(L"uninstall: unknown option \"--all\"", Parse({L"uninstall", L"Svc", L"--all"}).error);
    EXPECT_EQ(L"product: --event-source needs a value", Parse({L"product", L"--event-source"}).error);
    EXPECT_EQ(L"product: unknown option \"Root\"", Parse({L"product", L"Root"}).error);
    EXPECT_EQ(L"run: --seconds needs a whole number of seconds up to 4294967, not \"soon\"",
              Parse({L"run", L"Svc", L"--seconds", L"soon"}).error);
    // More would overflow the wait in milliseconds: 4294968 s would end the run after 704 ms.
    EXPECT_EQ(L"run: --seconds needs a whole number of seconds up to 4294967, not \"4294968\"",
              Parse({L"run", L"Svc", L"--seconds", L"4294968"}).error);
    EXPECT_EQ(L"status: unknown option \"more\"", Parse({L"status", L"Svc", L"more"}).error);
    EXPECT_EQ(L"status: <service> is missing before \"--all\"", Parse({L"status", L"--all"}).error);
    EXPECT_EQ(L"status: <service> is missing before \"--json\"", Parse({L"status", L"--json"}).error);
    EXPECT_EQ(L"uninstall: <service> is missing before \"--purge\"", Parse({L"uninstall", L"--purge", L"Svc"}).error);
    EXPECT_TRUE(Parse({L"explain", L"-2147467259"}).error.empty()) << "a negative code is no option";
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
    EXPECT_EQ(5u, run.command->Get<RunOptions>().seconds.value_or(0));
    EXPECT_FALSE(Parse({L"run", L"Svc"}).command->Get<RunOptions>().seconds);
    EXPECT_EQ(CommandKind::Explain, Parse({L"explain", L"-1"}).command->kind);
    EXPECT_EQ(CommandKind::Uninstall, Parse({L"uninstall", L"Svc"}).command->kind);
    EXPECT_FALSE(Parse({L"uninstall", L"Svc"}).command->Get<UninstallOptions>().force);
    EXPECT_TRUE(Parse({L"uninstall", L"Svc", L"--force"}).command->Get<UninstallOptions>().force);
    EXPECT_TRUE(Parse({L"uninstall", L"Svc", L"--purge", L"--force"}).command->Get<UninstallOptions>().purge);
    const auto product = Parse({L"product", L"--registry-root", L"SOFTWARE\\Qx\\P", L"--event-source", L"Src"});
    ASSERT_TRUE(product.command);
    EXPECT_EQ(L"SOFTWARE\\Qx\\P", product.command->Get<ProductOptions>().registryRoot);
    EXPECT_EQ(L"Src", product.command->Get<ProductOptions>().eventSource);
    EXPECT_FALSE(product.command->Get<ProductOptions>().installPath);
    EXPECT_EQ(CommandKind::Product, Parse({L"product"}).command->kind);
    EXPECT_TRUE(
        Parse({L"install", L"Svc", L"--modules", L"A", L"--replace", L"--force"}).command->Get<InstallOptions>().force);
    EXPECT_TRUE(Parse({L"install", L"Svc", L"--modules", L"A", L"--replace"}).command->Get<InstallOptions>().replace);
    EXPECT_EQ(CommandKind::Validate, Parse({L"validate", L"Svc"}).command->kind);
    EXPECT_TRUE(Parse({L"status", L"Svc", L"--json"}).command->Get<ViewOptions>().json);
    EXPECT_FALSE(Parse({L"status", L"Svc"}).command->Get<ViewOptions>().json);
    EXPECT_EQ(CommandKind::Help, Parse({L"--help"}).command->kind);
    EXPECT_EQ(CommandKind::Help, Parse({L"--help"}).command->Get<HelpOptions>().about);
    for (const std::vector<std::wstring>& asked : {std::vector<std::wstring>{L"install", L"--help"},
                                                   {L"help", L"install"},
                                                   {L"install", L"Svc", L"-h"},
                                                   {L"install", L"/?"}}) {
        const auto help = Parse(asked);
        ASSERT_TRUE(help.command);
        EXPECT_EQ(CommandKind::Help, help.command->kind);
        EXPECT_EQ(CommandKind::Install, help.command->Get<HelpOptions>().about);
    }
    EXPECT_EQ(L"help: unknown command \"begin\": see QxServiceCtl --help", Parse({L"help", L"begin"}).error);
    // A help word that an option takes as its value is that value.
    const auto described = Parse({L"config", L"Svc", L"--description", L"/?"});
    ASSERT_TRUE(described.command);
    EXPECT_EQ(L"/?", described.command->Get<InstallOptions>().settings.description);
    EXPECT_EQ(L"-h", Parse({L"install", L"Svc", L"--modules", L"A", L"--account", L"u", L"--password", L"-h"})
                         .command->Get<InstallOptions>()
                         .settings.password);
}

// start, stop and restart wait 30 s unless told; --kill-after alone waits 30 s beyond the kill.
TEST(CtlArguments, LifecycleListAndConfigViewOptions)
{
    struct Case {
        std::vector<std::wstring> arguments;
        CommandKind kind;
        std::uint32_t waitSeconds;
        std::optional<std::uint32_t> killAfterSeconds;
    };
    const Case cases[] = {
        {{L"start", L"Svc"}, CommandKind::Start, 30, std::nullopt},
        {{L"start", L"Svc", L"--wait", L"5"}, CommandKind::Start, 5, std::nullopt},
        {{L"stop", L"Svc", L"--kill-after", L"10"}, CommandKind::Stop, 40, 10},
        {{L"stop", L"Svc", L"--kill-after", L"1", L"--wait", L"2"}, CommandKind::Stop, 2, 1},
        {{L"restart", L"Svc", L"--wait", L"0"}, CommandKind::Restart, 0, std::nullopt},
    };
    for (const Case& given : cases) {
        const auto parsed = Parse(given.arguments);
        ASSERT_TRUE(parsed.command) << std::string(parsed.error.begin(), parsed.error.end());
        EXPECT_EQ(given.kind, parsed.command->kind);
        EXPECT_EQ(given.waitSeconds, parsed.command->Get<LifecycleOptions>().waitSeconds);
        EXPECT_EQ(given.killAfterSeconds, parsed.command->Get<LifecycleOptions>().killAfterSeconds);
    }
    EXPECT_EQ(L"start: unknown option \"--kill-after\"", Parse({L"start", L"Svc", L"--kill-after", L"1"}).error);
    EXPECT_EQ(L"stop: --kill-after must be shorter than --wait, which counts from the stop request",
              Parse({L"stop", L"Svc", L"--wait", L"5", L"--kill-after", L"5"}).error);
    EXPECT_EQ(L"restart: --wait needs a whole number of seconds up to 4294967, not \"\"",
              Parse({L"restart", L"Svc", L"--wait"}).error);
    EXPECT_EQ(L"stop: <service> is missing before \"--wait\"", Parse({L"stop", L"--wait", L"1"}).error);
    EXPECT_TRUE(Parse({L"list", L"--json"}).command->Get<ViewOptions>().json);
    EXPECT_EQ(L"list: unknown option \"Svc\"", Parse({L"list", L"Svc"}).error);
    const auto shown = Parse({L"config", L"Svc", L"--json"});
    ASSERT_TRUE(shown.command);
    EXPECT_TRUE(shown.command->Get<InstallOptions>().json);
    EXPECT_EQ(ServiceSettings{}, shown.command->Get<InstallOptions>().settings);
    EXPECT_TRUE(Parse({L"install", L"Svc", L"--modules", L"A", L"--no-check"}).command->Get<InstallOptions>().noCheck);
    const auto all = Parse({L"stop", L"--all", L"--record", L"C:\\r.txt", L"--kill-after", L"5"});
    ASSERT_TRUE(all.command);
    EXPECT_TRUE(all.command->Get<LifecycleOptions>().allRunning);
    EXPECT_EQ(L"C:\\r.txt", all.command->Get<LifecycleOptions>().record);
    EXPECT_EQ(35u, all.command->Get<LifecycleOptions>().waitSeconds);
    const auto recorded = Parse({L"start", L"--recorded", L"C:\\r.txt", L"--wait", L"9"});
    ASSERT_TRUE(recorded.command);
    EXPECT_FALSE(recorded.command->Get<LifecycleOptions>().allRunning);
    EXPECT_EQ(L"C:\\r.txt", recorded.command->Get<LifecycleOptions>().record);
    EXPECT_EQ(9u, recorded.command->Get<LifecycleOptions>().waitSeconds);
    EXPECT_EQ(L"start: --recorded needs the file a stop --all --record wrote", Parse({L"start", L"--recorded"}).error);
    EXPECT_EQ(L"stop: unknown option \"--record\"", Parse({L"stop", L"Svc", L"--record", L"f"}).error);
    EXPECT_EQ(L"start: <service> is missing before \"--all\"", Parse({L"start", L"--all"}).error);
    EXPECT_TRUE(Parse({L"config", L"Svc", L"--modules", L"A", L"--no-check"}).command->Get<InstallOptions>().noCheck);
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

// A command added to the tool gets its row in the operators' reference and in the package's README.
TEST(CtlArguments, EveryCommandHasItsRowInTheOperatorsDocuments)
{
    for (const char* path : {QX_OPERATORS_REFERENCE, QX_PACKAGE_README}) {
        const std::ifstream file(path, std::ios::binary);
        std::ostringstream content;
        content << file.rdbuf();
        ASSERT_FALSE(content.str().empty()) << path;
        for (const std::wstring& name : CommandNames()) {
            const std::string row = "\n| `" + std::string(name.begin(), name.end());
            EXPECT_NE(std::string::npos, content.str().find(row)) << path << " has no row for " << row.substr(1);
        }
    }
}
