// Libraries planted where the host must never look for one: the Windows folder (a service's current
// folder, and in its PATH), another folder of the system PATH that services inherit, and the current
// folder and PATH of a hand-run. A service module named without a path is looked up beside the host
// and in System32 only, the watchdog agent beside the host only. The planted copies are the test
// module that traces its loading from DllMain, so a copy whose code ran at all leaves a trace line.
#include "ServiceHarness.h"

#include <cwchar>

using namespace Qx::Testing;

namespace {

constexpr const wchar_t* kPlantedModule = L"QxTestPlantedModule.dll";
constexpr HRESULT kModNotFound = static_cast<HRESULT>(0x8007007E);
constexpr DWORD kDisplayNameMessage = 7;

std::wstring WindowsFolder()
{
    wchar_t folder[MAX_PATH];
    const UINT length = GetWindowsDirectoryW(folder, MAX_PATH);
    return std::wstring(folder, length) + L"\\";
}

// The system PATH, which services inherit, expanded.
std::wstring SystemPath()
{
    constexpr const wchar_t* kEnvironmentKey = L"SYSTEM\\CurrentControlSet\\Control\\Session Manager\\Environment";
    constexpr DWORD kFlags = RRF_RT_REG_SZ | RRF_RT_REG_EXPAND_SZ | RRF_NOEXPAND;
    DWORD size = 0;
    if (RegGetValueW(HKEY_LOCAL_MACHINE, kEnvironmentKey, L"PATH", kFlags, nullptr, nullptr, &size) != ERROR_SUCCESS) {
        return {};
    }
    std::wstring stored(size / sizeof(wchar_t), L'\0');
    if (RegGetValueW(HKEY_LOCAL_MACHINE, kEnvironmentKey, L"PATH", kFlags, nullptr, stored.data(), &size) !=
        ERROR_SUCCESS) {
        return {};
    }
    stored.resize(wcsnlen(stored.c_str(), stored.size()));
    std::wstring expanded(ExpandEnvironmentStringsW(stored.c_str(), nullptr, 0), L'\0');
    expanded.resize(ExpandEnvironmentStringsW(stored.c_str(), expanded.data(), static_cast<DWORD>(expanded.size())));
    expanded.resize(wcsnlen(expanded.c_str(), expanded.size()));
    return expanded;
}

// An existing folder of the system PATH other than the Windows folder and System32 (with its
// trailing backslash); empty when there is none.
std::wstring OtherSystemPathFolder()
{
    const std::wstring path = SystemPath() + L";";
    for (std::size_t start = 0, end = path.find(L';'); end != std::wstring::npos;
         start = end + 1, end = path.find(L';', start)) {
        std::wstring folder = path.substr(start, end - start);
        if (folder.empty()) {
            continue;
        }
        if (folder.back() != L'\\') {
            folder += L'\\';
        }
        const DWORD attributes = GetFileAttributesW(folder.c_str());
        if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 &&
            !EqualIgnoringCase(folder, WindowsFolder()) &&
            !EqualIgnoringCase(folder, WindowsFolder() + L"system32\\")) {
            return folder;
        }
    }
    return {};
}

class PlantedLibraries : public ServiceTest {
protected:
    // No trace line of module: none of the code of a copy under that name ran.
    ::testing::AssertionResult NothingRanOf(const std::wstring& module) const
    {
        const std::string name = ToUtf8(module);
        auto result = ::testing::AssertionSuccess();
        bool ran = false;
        for (const TraceLine& line : ReadTrace()) {
            if (line.module == name) {
                if (!ran) {
                    result = ::testing::AssertionFailure() << "code of a planted " << name << " ran:";
                    ran = true;
                }
                result << "\n  " << line.processId << " " << line.event;
            }
        }
        return result;
    }

    // Plants the module and the agent in folder, installs the service with a host of its own that
    // has neither beside it, and starts it: the start fails as the module cannot be found.
    void ExpectPlantedModuleAndAgentNeverLoaded(const std::wstring& folder)
    {
        const std::wstring module = m_service + L".dll";
        ASSERT_NO_FATAL_FAILURE(Plant(kPlantedModule, folder, module));
        ASSERT_NO_FATAL_FAILURE(Plant(kPlantedModule, folder, kWatchdogAgent));
        const std::wstring hostFolder = MakeHostFolder(L"-host", HostFiles());
        ASSERT_NO_FATAL_FAILURE(Install(hostFolder));
        ASSERT_NO_FATAL_FAILURE(WriteParameters(module, kDisplayNameMessage));

        ASSERT_EQ(0u, Start());
        const ::testing::AssertionResult stopped = WaitForState(SERVICE_STOPPED);
        EXPECT_TRUE(NothingRanOf(m_service));
        EXPECT_TRUE(NothingRanOf(L"QxWatchdogAgent"));
        ASSERT_TRUE(stopped);
        ExpectStoppedStatus(Query(), 0, static_cast<DWORD>(kModNotFound));
        EXPECT_EQ(Hex(static_cast<DWORD>(kModNotFound)), Hex(WaitForExit()));
        const std::string name = ToUtf8(module);
        const LogFile log = ReadServiceLog();
        EXPECT_TRUE(HasRecordsInOrder(log, {"Loading module:" + name, "Failed to load " + name + " Error:126"}));
        EXPECT_FALSE(ReadWatchdogStatus().exists) << "the stand-in agent in the bin folder was reached";
    }
};

TEST_F(PlantedLibraries, ServiceNeverLoadsAModuleOrAgentFromTheWindowsFolder)
{
    ExpectPlantedModuleAndAgentNeverLoaded(WindowsFolder());
}

TEST_F(PlantedLibraries, ServiceNeverLoadsAModuleOrAgentFromAFolderOfItsPath)
{
    const std::wstring folder = OtherSystemPathFolder();
    ASSERT_FALSE(folder.empty()) << "the system PATH has no folder besides the Windows folder and System32: "
                                 << ToUtf8(SystemPath());
    ExpectPlantedModuleAndAgentNeverLoaded(folder);
}

// A hand-run starts from wherever the one who runs it stands: first from a folder with an agent and a
// PATH folder with another, then from an empty folder with only the PATH one.
TEST_F(PlantedLibraries, HandRunNeverLoadsAnAgentFromItsCurrentFolderOrPath)
{
    const std::wstring hostFolder = MakeHostFolder(L"-host", HostFiles());
    const std::wstring withAgent = MakeHostFolder(L"-current", {{kPlantedModule, kWatchdogAgent}});
    const std::wstring empty = MakeHostFolder(L"-empty", {});
    const std::wstring pathFolder = MakeHostFolder(L"-path", {{kPlantedModule, kWatchdogAgent}});
    ASSERT_NO_FATAL_FAILURE(WriteParameters(L"", kDisplayNameMessage));

    for (const std::wstring& currentFolder : {withAgent, empty}) {
        SCOPED_TRACE(ToUtf8(currentFolder));
        const HostRun run = RunHost(L"-name=" + m_service + L" -RegServer", {hostFolder, currentFolder, pathFolder});
        EXPECT_EQ(Hex(S_OK), Hex(run.exitCode));
        EXPECT_TRUE(ReadLog(LogPath(m_service, run.processId, hostFolder)).exists) << "the host did not run";
    }
    EXPECT_TRUE(NothingRanOf(L"QxWatchdogAgent"));
}

} // namespace

// A module named with a relative path is looked for below the host's folder only: "..\" leads out
// of it, to a copy in the folder above, and is refused before anything is loaded.
TEST_F(PlantedLibraries, ServiceRefusesAModuleNameThatLeadsOutOfItsFolder)
{
    const std::wstring module = m_service + L".dll";
    ASSERT_NO_FATAL_FAILURE(Plant(kPlantedModule, BinDirectory(), module));
    ASSERT_NO_FATAL_FAILURE(Install(MakeHostFolder(L"-host", HostFiles())));
    ASSERT_NO_FATAL_FAILURE(WriteParameters(L"..\\" + module, kDisplayNameMessage));

    ASSERT_EQ(0u, Start());
    const ::testing::AssertionResult stopped = WaitForState(SERVICE_STOPPED);
    EXPECT_TRUE(NothingRanOf(m_service));
    ASSERT_TRUE(stopped);
    constexpr HRESULT kInvalidArg = static_cast<HRESULT>(0x80070057);
    ExpectStoppedStatus(Query(), 0, static_cast<DWORD>(kInvalidArg));
    EXPECT_EQ(Hex(static_cast<DWORD>(kInvalidArg)), Hex(WaitForExit()));
    EXPECT_TRUE(HasRecordsInOrder(ReadServiceLog(), {"Failed to load ..\\" + ToUtf8(module) +
                                                     " Error:87 (the name leads out of the host's folder or is no "
                                                     "file name)"}));
}
