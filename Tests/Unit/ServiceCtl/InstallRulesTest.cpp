#include "InstallRules.h"

#include <gtest/gtest.h>

using namespace QxServiceCtl;

TEST(InstallRules, AcceptsWhatTheHostReadsAsWritten)
{
    EXPECT_FALSE(ServiceNameRefusal(L"QxDemo"));
    EXPECT_FALSE(ServiceNameRefusal(std::wstring(255, L'a')));
    EXPECT_FALSE(ModuleListRefusal(L"A.dll;B.dll,C:\\x y\\C.dll"));
    EXPECT_FALSE(ModuleListRefusal(std::wstring(259, L'a')));
}

struct Refusal {
    std::wstring input;
    const wchar_t* reason;
};

TEST(InstallRules, RefusesServiceNamesTheHostWouldMisread)
{
    const Refusal refusals[] = {
        {L"", L"the service name is empty"},
        {L"Qx-Demo", L"service name \"Qx-Demo\" contains \"-\": the host cuts its command line at every \"-\" and "
                     L"would not see the whole name"},
        {std::wstring(256, L'a'), L"service name is 256 characters long: the host takes at most 255"},
        {L"a\\b", L"service name \"a\\b\" contains U+005C: the host refuses \"\\\", \"/\", \":\" and control "
                  L"characters in a service name"},
        {L" Qx", L"service name \" Qx\" begins or ends with a space: the host trims the spaces and would serve "
                 L"another name"},
        {L"COM1.x", L"service name \"COM1.x\" is no file name: the host would write its log and dumps as \"COM1_.x\", "
                    L"which other names share (\"*<>?| and a device name such as CON or COM1 before a dot are not "
                    L"allowed)"},
        {L"qxservicehost", L"service name \"qxservicehost\" is the name of the host's early logs in Logs: its module "
                           L"logs would be mixed up with them, and its log retention would delete them"},
    };
    for (const auto& [name, reason] : refusals) {
        EXPECT_EQ(reason, ServiceNameRefusal(name).value_or(L""));
    }
    EXPECT_TRUE(ServiceNameRefusal(L"a|b"));
    EXPECT_TRUE(ServiceNameRefusal(L"QxSampleHeartbeat"));
    EXPECT_FALSE(ServiceNameRefusal(L"CON")) << "its files' names go on with \"(\" or \"_\"";
}

TEST(InstallRules, RefusesModuleListsTheHostWouldMisread)
{
    const Refusal refusals[] = {
        {std::wstring(260, L'a'), L"module list is 260 characters long: the host reads at most 259 of ServiceModules"},
        {L"A.dll; B.dll",
         L"module \" B.dll\" begins or ends with a space: the host does not trim the names between \";\" and \",\""},
        {L"A.dll ,B.dll",
         L"module \"A.dll \" begins or ends with a space: the host does not trim the names between \";\" and \",\""},
        {L";,", L"module list \";,\" names no module"},
    };
    for (const auto& [list, reason] : refusals) {
        EXPECT_EQ(reason, ModuleListRefusal(list).value_or(L""));
    }
}

TEST(InstallRules, TellsTheHostsServiceByItsCommandLine)
{
    constexpr const wchar_t* kHost = L"C:\\Qx\\QxServiceHost.exe";
    for (const wchar_t* ours :
         {L"\"C:\\Qx\\QxServiceHost.exe\" -name=QxDemo", L"\"c:\\qx\\qxservicehost.exe\" -NAME=qxdemo",
          L"C:\\Qx\\QxServiceHost.exe -name QxDemo", L"\"C:\\Qx\\QxServiceHost.exe\" -name=Other -name=QxDemo"}) {
        EXPECT_TRUE(RunsHostFor(ours, kHost, L"QxDemo")) << ours;
    }
    for (const wchar_t* other :
         {L"C:\\windows\\notepad.exe", L"\"C:\\Qx\\QxServiceHost.exe\" -name=Other", L"\"C:\\Qx\\QxServiceHost.exe\"",
          L"\"D:\\Qx\\QxServiceHost.exe\" -name=QxDemo", L"\"C:\\Qx\\QxServiceHost.exe -name=QxDemo", L""}) {
        EXPECT_FALSE(RunsHostFor(other, kHost, L"QxDemo")) << other;
    }
}

TEST(InstallRules, RefusesProductRootsAndEventSourcesTheHostWouldNotFind)
{
    EXPECT_FALSE(RegistryRootRefusal(L"SOFTWARE\\Qx\\Product"));
    EXPECT_EQ(L"registry root \"HKLM\\SOFTWARE\\Qx\" names the hive: give the key below HKEY_LOCAL_MACHINE, as "
              L"\"SOFTWARE\\Qx\"",
              RegistryRootRefusal(L"HKLM\\SOFTWARE\\Qx").value_or(L""));
    for (const wchar_t* root : {L"", L"\\SOFTWARE", L"SOFTWARE\\", L"SOFTWARE\\\\Qx"}) {
        EXPECT_EQ(L"registry root \"" + std::wstring(root) +
                      L"\" is no key path: give names separated by single \"\\\"",
                  RegistryRootRefusal(root).value_or(L""));
    }
    EXPECT_FALSE(EventSourceRefusal(L"Qx Audit"));
    EXPECT_EQ(L"event source \"A\\B\" is no event source name: it must not be empty or hold \"\\\"",
              EventSourceRefusal(L"A\\B").value_or(L""));
    for (const wchar_t* source : {L"Velquor Audit", L" Audit", L"Audit\t"}) {
        EXPECT_EQ(L"event source \"" + std::wstring(source) +
                      L"\" would not be the host's: it removes \"Velquor\" from the name and trims its blanks",
                  EventSourceRefusal(source).value_or(L""));
    }
}
