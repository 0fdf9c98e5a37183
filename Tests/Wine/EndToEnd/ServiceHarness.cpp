#include "ServiceHarness.h"

#include <tlhelp32.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <set>
#include <thread>

#include "PollUntil.h"

namespace Qx::Testing {

namespace {

using Qx::Platform::UniqueKernelHandle;

// Empty when there is no such file (yet).
std::string ReadFileIfPresent(const std::wstring& path)
{
    return Qx::Testing::ReadWholeFile(path).value_or(std::string());
}

std::vector<std::string> CrLfLines(const std::string& content)
{
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < content.size()) {
        std::size_t end = content.find("\r\n", start);
        if (end == std::string::npos) {
            end = content.size();
        }
        lines.push_back(content.substr(start, end - start));
        start = end + 2;
    }
    return lines;
}

// "2024-05-01 12:34:56.789 qpc=123456789012"
std::optional<long long> QpcOf(const std::string& call)
{
    const std::size_t at = call.rfind(" qpc=");
    if (at == std::string::npos || !IsNumber(call.substr(at + 5))) {
        return std::nullopt;
    }
    return std::stoll(call.substr(at + 5));
}

std::string Describe(const SERVICE_STATUS_PROCESS& status)
{
    char text[200];
    std::snprintf(text, sizeof(text),
                  "state=%lu accepted=0x%lX win32exit=0x%08lX specific=0x%lX checkpoint=%lu waithint=%lu pid=%lu",
                  status.dwCurrentState, status.dwControlsAccepted, status.dwWin32ExitCode,
                  status.dwServiceSpecificExitCode, status.dwCheckPoint, status.dwWaitHint, status.dwProcessId);
    return text;
}

void RemoveTree(const std::wstring& folder)
{
    WIN32_FIND_DATAW found{};
    if (const Qx::Platform::UniqueFindHandle search(FindFirstFileW((folder + L"*").c_str(), &found)); search) {
        do {
            const std::wstring name = found.cFileName;
            if (name == L"." || name == L"..") {
                continue;
            }
            if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
                RemoveTree(folder + name + L"\\");
            } else {
                EXPECT_TRUE(DeleteFileW((folder + name).c_str())) << ToUtf8(folder + name) << ": " << GetLastError();
            }
        } while (FindNextFileW(search.get(), &found) != 0);
    }
    EXPECT_TRUE(RemoveDirectoryW(folder.c_str())) << ToUtf8(folder) << ": " << GetLastError();
}

std::string DumpTrace(const std::vector<TraceLine>& trace)
{
    std::string dump = "\n  trace:";
    for (const TraceLine& line : trace) {
        dump += "\n  | " + std::to_string(line.qpc) + " " + std::to_string(line.processId) + " " +
                std::to_string(line.threadId) + " " + line.module + " " + line.event;
    }
    return dump;
}

} // namespace

// Follows the host processes that appear while a service starts. The SCM names a service's process
// only once it has connected; a host that ends before that (a configuration error in WinMain) is
// never named, and by the time StartServiceW returns it is gone. Watching the process list from
// before the start catches it within milliseconds, while it is still loading, and the handle taken
// then keeps its exit code readable.
class HostProcessWatcher {
public:
    HostProcessWatcher() : m_known(HostProcessIds())
    {
        m_thread = std::thread([this] { Watch(); });
    }

    ~HostProcessWatcher() { Stop(); }

    HostProcessWatcher(const HostProcessWatcher&) = delete;
    HostProcessWatcher& operator=(const HostProcessWatcher&) = delete;

    // Stops watching and hands over the handle of the new host process processId, none when none
    // was seen.
    UniqueKernelHandle Take(DWORD processId)
    {
        Stop();
        const auto found = m_found.find(processId);
        if (found == m_found.end()) {
            return {};
        }
        UniqueKernelHandle handle = std::move(found->second);
        m_found.erase(found);
        return handle;
    }

    // Stops watching and lists every host process that appeared.
    std::vector<DWORD> Found()
    {
        Stop();
        std::vector<DWORD> processIds;
        for (const auto& [processId, handle] : m_found) {
            processIds.push_back(processId);
        }
        return processIds;
    }

private:
    static std::set<DWORD> HostProcessIds()
    {
        std::set<DWORD> processIds;
        const UniqueKernelHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
        if (!snapshot) {
            return processIds;
        }
        PROCESSENTRY32W entry{};
        entry.dwSize = sizeof(entry);
        for (BOOL more = Process32FirstW(snapshot.get(), &entry); more != 0;
             more = Process32NextW(snapshot.get(), &entry)) {
            if (EqualIgnoringCase(entry.szExeFile, kHostExe)) {
                processIds.insert(entry.th32ProcessID);
            }
        }
        return processIds;
    }

    void Stop()
    {
        m_stop = true;
        if (m_thread.joinable()) {
            m_thread.join();
        }
    }

    void Watch()
    {
        while (!m_stop) {
            for (const DWORD processId : HostProcessIds()) {
                if (!m_known.insert(processId).second) {
                    continue;
                }
                UniqueKernelHandle handle(
                    OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION | PROCESS_TERMINATE, FALSE, processId));
                if (handle) {
                    m_found[processId] = std::move(handle);
                }
            }
            Sleep(2);
        }
    }

    std::set<DWORD> m_known;
    // Written by the watching thread only; read after Stop has joined it.
    std::map<DWORD, UniqueKernelHandle> m_found;
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
};

std::size_t FindRecord(const LogFile& log, std::string_view text)
{
    for (std::size_t i = 0; i < log.records.size(); ++i) {
        if (log.records[i].text == text) {
            return i;
        }
    }
    return log.records.size();
}

std::size_t CountRecords(const LogFile& log, std::string_view text)
{
    std::size_t count = 0;
    for (const LogRecord& record : log.records) {
        if (record.text == text) {
            ++count;
        }
    }
    return count;
}

::testing::AssertionResult HasEventDump(const LogFile& log, std::string_view type, std::uint32_t eventId,
                                        const std::vector<std::pair<int, std::string>>& insertions)
{
    // Category 1 is the facility of all three service events.
    char header[96];
    std::snprintf(header, sizeof(header), "Event: [] Type=%.*s Category=0x01 Id=0x%08X", static_cast<int>(type.size()),
                  type.data(), eventId);
    const std::size_t at = FindRecord(log, header);
    if (at == log.records.size()) {
        return ::testing::AssertionFailure() << "no record \"" << header << "\"" << Dump(log);
    }
    const LogRecord& head = log.records[at];
    const std::string indentation = head.indentedText.substr(0, head.indentedText.size() - head.text.size());
    const auto insertionLine = [&indentation](int number, const std::string& text) {
        return indentation + "       %" + std::to_string(number) + "=" + text;
    };
    // Records of other threads, such as the control handler's, may come in between.
    std::size_t index = at;
    for (const auto& [number, text] : insertions) {
        const std::string expected = insertionLine(number, text);
        do {
            ++index;
        } while (index < log.records.size() && log.records[index].threadId != head.threadId);
        if (index >= log.records.size() || log.records[index].indentedText != expected ||
            log.records[index].severity != head.severity) {
            return ::testing::AssertionFailure() << "\"" << header << "\" is not followed by a " << head.severity
                                                 << " record \"" << expected << "\" on its thread" << Dump(log);
        }
    }
    return ::testing::AssertionSuccess();
}

DWORD ThreadOf(const LogFile& log, std::string_view text)
{
    const std::size_t at = FindRecord(log, text);
    return at < log.records.size() ? log.records[at].threadId : 0;
}

::testing::AssertionResult HasTraceLines(const std::vector<TraceLine>& trace, DWORD processId,
                                         const std::vector<std::pair<std::string, std::string>>& expected)
{
    bool matches = trace.size() == expected.size();
    for (std::size_t i = 0; matches && i < trace.size(); ++i) {
        matches = trace[i].module == expected[i].first && trace[i].event == expected[i].second &&
                  trace[i].processId == processId && (i == 0 || trace[i - 1].qpc < trace[i].qpc);
    }
    if (matches) {
        return ::testing::AssertionSuccess();
    }
    auto failure = ::testing::AssertionFailure() << "expected from process " << processId << ", in this order:";
    for (const auto& [module, event] : expected) {
        failure << "\n  " << module << " " << event;
    }
    return failure << DumpTrace(trace);
}

void ExpectRunningStatus(const SERVICE_STATUS_PROCESS& status, DWORD processId)
{
    EXPECT_EQ(static_cast<DWORD>(SERVICE_WIN32_OWN_PROCESS), status.dwServiceType);
    EXPECT_EQ(static_cast<DWORD>(SERVICE_RUNNING), status.dwCurrentState);
    EXPECT_EQ(Hex(kAcceptedWhileRunning), Hex(status.dwControlsAccepted));
    EXPECT_EQ(Hex(0), Hex(status.dwWin32ExitCode));
    EXPECT_EQ(0u, status.dwServiceSpecificExitCode);
    EXPECT_EQ(0u, status.dwCheckPoint);
    EXPECT_EQ(0u, status.dwWaitHint);
    EXPECT_EQ(processId, status.dwProcessId);
}

void ExpectStoppedStatus(const SERVICE_STATUS_PROCESS& status, DWORD accepted, DWORD win32ExitCode)
{
    EXPECT_EQ(static_cast<DWORD>(SERVICE_WIN32_OWN_PROCESS), status.dwServiceType);
    EXPECT_EQ(static_cast<DWORD>(SERVICE_STOPPED), status.dwCurrentState);
    EXPECT_EQ(Hex(accepted), Hex(status.dwControlsAccepted));
    EXPECT_EQ(Hex(win32ExitCode), Hex(status.dwWin32ExitCode));
    EXPECT_EQ(0u, status.dwServiceSpecificExitCode);
    EXPECT_EQ(0u, status.dwCheckPoint);
    EXPECT_EQ(0u, status.dwWaitHint);
    EXPECT_EQ(0u, status.dwProcessId);
}

ServiceTest::ServiceTest() = default;
ServiceTest::~ServiceTest() = default;

void ServiceTest::SetUp()
{
    m_service = UniqueServiceName(::testing::UnitTest::GetInstance()->current_test_info()->name());
    m_folder = BinDirectory();
    m_manager.reset(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
    ASSERT_TRUE(m_manager) << "OpenSCManagerW failed: " << GetLastError();
    DeleteLeftoverService();
    DeleteServiceKey(m_service);
    m_traceFile = BinDirectory() + m_service + L".trace";
    DeleteFileW(m_traceFile.c_str());
    WriteTraceFileSetting();
}

void ServiceTest::TearDown()
{
    StopAndDelete();
    m_overrides.clear();
    RemoveFiles();
    m_manager.reset();
}

std::wstring ServiceTest::MakeHostFolder(std::wstring_view suffix,
                                         const std::vector<std::pair<std::wstring, std::wstring>>& files)
{
    std::wstring folder = BinDirectory() + L"e2e-" + m_service + std::wstring(suffix) + L"\\";
    if (CreateDirectoryW(folder.c_str(), nullptr) == 0) {
        ADD_FAILURE() << "cannot create " << ToUtf8(folder) << ": " << GetLastError();
        return folder;
    }
    m_folders.push_back(folder);
    for (const auto& [source, target] : files) {
        EXPECT_TRUE(CopyFileW((BinDirectory() + source).c_str(), (folder + target).c_str(), TRUE))
            << ToUtf8(source) << " -> " << ToUtf8(folder + target) << ": " << GetLastError();
    }
    return folder;
}

std::wstring ServiceTest::WriteProductInfo(const std::wstring& folder)
{
    std::wstring registryRoot = L"SOFTWARE\\Qx\\E2E\\" + m_service;
    WriteNewFile(folder + L"ProductInfo2.ini", "[ProductInfo]\r\nRegistryRoot=" + ToUtf8(registryRoot) + "\r\n");
    return registryRoot;
}

std::vector<std::pair<std::wstring, std::wstring>> ServiceTest::HostFiles()
{
    return {{kHostExe, kHostExe}, {L"QxLogger.dll", L"QxLogger.dll"}, {L"QxMessages.dll", L"QxMessages.dll"}};
}

void ServiceTest::Plant(std::wstring_view source, const std::wstring& folder, std::wstring_view name)
{
    const std::wstring target = folder + std::wstring(name);
    ASSERT_TRUE(CopyFileW((BinDirectory() + std::wstring(source)).c_str(), target.c_str(), TRUE))
        << "cannot plant " << ToUtf8(target) << ": " << GetLastError();
    m_plantedFiles.push_back(target);
}

void ServiceTest::Install(const std::wstring& folder)
{
    const std::wstring binaryPath = L"\"" + folder + kHostExe + L"\" -name=" + m_service;
    m_serviceHandle.reset(CreateServiceW(m_manager.get(), m_service.c_str(), m_service.c_str(), SERVICE_ALL_ACCESS,
                                         SERVICE_WIN32_OWN_PROCESS, SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL,
                                         binaryPath.c_str(), nullptr, nullptr, nullptr, nullptr, nullptr));
    ASSERT_TRUE(m_serviceHandle) << "CreateServiceW failed: " << GetLastError();
    m_folder = folder;
    // A test may have renamed its service since SetUp.
    WriteTraceFileSetting();
}

void ServiceTest::MoveTo(const std::wstring& folder)
{
    const std::wstring binaryPath = L"\"" + folder + kHostExe + L"\" -name=" + m_service;
    ASSERT_TRUE(ChangeServiceConfigW(m_serviceHandle.get(), SERVICE_NO_CHANGE, SERVICE_NO_CHANGE, SERVICE_NO_CHANGE,
                                     binaryPath.c_str(), nullptr, nullptr, nullptr, nullptr, nullptr, nullptr))
        << "ChangeServiceConfigW failed: " << GetLastError();
    m_folder = folder;
}

void ServiceTest::WriteParameters(std::wstring_view modules, DWORD serviceName)
{
    ASSERT_EQ(ERROR_SUCCESS, SetParameterString(m_service, L"ServiceModules", modules));
    ASSERT_EQ(ERROR_SUCCESS, SetParameterDword(m_service, L"ServiceName", serviceName));
}

void ServiceTest::SetModuleValue(std::wstring_view module, const wchar_t* name, DWORD value)
{
    ASSERT_EQ(ERROR_SUCCESS, SetVolatileValue(TestModulesKeyPath(m_service) + L"\\" + std::wstring(module), name,
                                              REG_DWORD, &value, sizeof(value)))
        << ToUtf8(module) << " " << ToUtf8(name);
}

void ServiceTest::SetModuleValue(std::wstring_view module, const wchar_t* name, const std::wstring& text)
{
    ASSERT_EQ(ERROR_SUCCESS,
              SetVolatileValue(TestModulesKeyPath(m_service) + L"\\" + std::wstring(module), name, REG_SZ, text.c_str(),
                               static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t))))
        << ToUtf8(module) << " " << ToUtf8(name);
}

RegistryValueOverride& ServiceTest::Override(std::wstring keyPath, std::wstring valueName)
{
    m_overrides.push_back(std::make_unique<RegistryValueOverride>(std::move(keyPath), std::move(valueName)));
    return *m_overrides.back();
}

DWORD ServiceTest::Start()
{
    m_current.reset();
    m_watcher = std::make_unique<HostProcessWatcher>();
    if (!ServiceStartedDespiteWineInternalError(m_serviceHandle.get())) {
        return GetLastError();
    }
    const SERVICE_STATUS_PROCESS status = Query();
    if (status.dwProcessId != 0) {
        Adopt(status.dwProcessId);
    }
    return ERROR_SUCCESS;
}

DWORD ServiceTest::StartRunning()
{
    if (const DWORD error = Start(); error != ERROR_SUCCESS) {
        ADD_FAILURE() << "StartServiceW failed: " << error;
        return 0;
    }
    if (const ::testing::AssertionResult running = WaitForState(SERVICE_RUNNING); !running) {
        ADD_FAILURE() << running.message();
        return 0;
    }
    return ProcessId();
}

SERVICE_STATUS_PROCESS ServiceTest::Query()
{
    SERVICE_STATUS_PROCESS status{};
    DWORD needed = 0;
    EXPECT_TRUE(QueryServiceStatusEx(m_serviceHandle.get(), SC_STATUS_PROCESS_INFO, reinterpret_cast<BYTE*>(&status),
                                     sizeof(status), &needed))
        << "QueryServiceStatusEx failed: " << GetLastError();
    return status;
}

::testing::AssertionResult ServiceTest::WaitForState(DWORD state, DWORD timeoutMs)
{
    if (PollUntil([&] { return Query().dwCurrentState == state; }, timeoutMs, kServicePollMs)) {
        return ::testing::AssertionSuccess();
    }
    return ::testing::AssertionFailure() << "state " << state << " not reached within " << timeoutMs
                                         << " ms: " << Describe(Query());
}

DWORD ServiceTest::Control(DWORD code, SERVICE_STATUS* status)
{
    SERVICE_STATUS returned{};
    const BOOL sent = ControlService(m_serviceHandle.get(), code, &returned);
    if (status != nullptr) {
        *status = returned;
    }
    return sent != 0 ? ERROR_SUCCESS : GetLastError();
}

DWORD ServiceTest::ProcessId()
{
    if (m_current) {
        return m_processes[*m_current].processId;
    }
    if (!m_watcher) {
        ADD_FAILURE() << "the service was not started";
        return 0;
    }
    std::vector<DWORD> ours;
    for (const DWORD processId : m_watcher->Found()) {
        if (FileExists(LogPath(m_service, processId, m_folder))) {
            ours.push_back(processId);
        }
    }
    if (ours.size() != 1) {
        ADD_FAILURE() << ours.size() << " host processes wrote a log for " << ToUtf8(m_service) << ", expected one";
        return 0;
    }
    Adopt(ours.front());
    return ours.front();
}

DWORD ServiceTest::WaitForExit(DWORD timeoutMs)
{
    if (ProcessId() == 0) {
        return kNoExitCode;
    }
    const HANDLE process = m_processes[*m_current].handle.get();
    if (process == nullptr) {
        return kNoExitCode;
    }
    const DWORD wait = WaitForSingleObject(process, timeoutMs);
    if (wait != WAIT_OBJECT_0) {
        ADD_FAILURE() << "the host process did not end within " << timeoutMs << " ms (wait " << wait << ")";
        return kNoExitCode;
    }
    DWORD exitCode = kNoExitCode;
    EXPECT_TRUE(GetExitCodeProcess(process, &exitCode)) << GetLastError();
    return exitCode;
}

void ServiceTest::StopCleanly(DWORD accepted)
{
    ASSERT_EQ(0u, Control(SERVICE_CONTROL_STOP));
    ASSERT_TRUE(WaitForState(SERVICE_STOPPED));
    ExpectStoppedStatus(Query(), accepted, 0);
    EXPECT_EQ(Hex(0), Hex(WaitForExit()));
}

LogFile ServiceTest::ReadServiceLog()
{
    const DWORD processId = ProcessId();
    return ReadLog(LogPath(m_service, processId, m_folder));
}

std::vector<TraceLine> ServiceTest::ReadTrace() const
{
    std::vector<TraceLine> lines;
    for (const std::string& line : CrLfLines(ReadFileIfPresent(m_traceFile))) {
        lines.push_back(ParseTraceLine(line));
    }
    return lines;
}

WatchdogStatus ServiceTest::ReadWatchdogStatus(const std::wstring& folder) const
{
    WatchdogStatus status;
    const std::wstring path = folder + L"QxWatchdogAgent." + m_service + L".status";
    status.exists = FileExists(path);
    for (const std::string& line : CrLfLines(ReadFileIfPresent(path))) {
        const std::size_t equals = line.find('=');
        if (equals == std::string::npos) {
            ADD_FAILURE() << "status line without \"=\": " << line;
            continue;
        }
        status.fields[line.substr(0, equals)] = line.substr(equals + 1);
    }
    if (const auto init = status.fields.find("WAInitW"); init != status.fields.end()) {
        status.initQpc = QpcOf(init->second);
    }
    if (const auto deinit = status.fields.find("WADeinit"); deinit != status.fields.end()) {
        status.deinitQpc = QpcOf(deinit->second);
    }
    return status;
}

void ServiceTest::RememberServiceName()
{
    if (std::find(m_serviceNames.begin(), m_serviceNames.end(), m_service) == m_serviceNames.end()) {
        m_serviceNames.push_back(m_service);
    }
}

void ServiceTest::WriteTraceFileSetting()
{
    RememberServiceName();
    ASSERT_EQ(ERROR_SUCCESS, SetVolatileValue(TestModulesKeyPath(m_service), L"TraceFile", REG_SZ, m_traceFile.c_str(),
                                              static_cast<DWORD>((m_traceFile.size() + 1) * sizeof(wchar_t))));
}

void ServiceTest::DeleteLeftoverService()
{
    const Qx::Platform::UniqueServiceHandle leftover(
        OpenServiceW(m_manager.get(), m_service.c_str(), SERVICE_ALL_ACCESS));
    if (!leftover) {
        return;
    }
    SERVICE_STATUS status{};
    ControlService(leftover.get(), SERVICE_CONTROL_STOP, &status);
    DeleteService(leftover.get());
}

void ServiceTest::Adopt(DWORD processId)
{
    UniqueKernelHandle handle = m_watcher ? m_watcher->Take(processId) : UniqueKernelHandle();
    m_watcher.reset();
    if (!handle) {
        handle.reset(
            OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION | PROCESS_TERMINATE, FALSE, processId));
        EXPECT_TRUE(handle) << "cannot open the host process " << processId << ": " << GetLastError();
    }
    m_current = m_processes.size();
    m_processes.push_back({processId, std::move(handle)});
}

void ServiceTest::StopIfRunning()
{
    SERVICE_STATUS_PROCESS status{};
    DWORD needed = 0;
    if (!m_serviceHandle ||
        QueryServiceStatusEx(m_serviceHandle.get(), SC_STATUS_PROCESS_INFO, reinterpret_cast<BYTE*>(&status),
                             sizeof(status), &needed) == 0 ||
        status.dwCurrentState == SERVICE_STOPPED) {
        return;
    }
    if (status.dwProcessId != 0 && !m_current) {
        Adopt(status.dwProcessId);
    }
    // Wine's SCM keeps reporting a service whose process died in its last state: there is
    // nothing left to stop, and waiting for SERVICE_STOPPED would only run into the time-out.
    const bool processEnded = m_current && m_processes[*m_current].handle &&
                              WaitForSingleObject(m_processes[*m_current].handle.get(), 0) == WAIT_OBJECT_0;
    if (!processEnded) {
        Control(SERVICE_CONTROL_STOP);
        (void)WaitForState(SERVICE_STOPPED);
    }
}

void ServiceTest::StopAndDelete()
{
    StopIfRunning();
    if (m_watcher && !m_current) {
        for (const DWORD processId : m_watcher->Found()) {
            if (FileExists(LogPath(m_service, processId, m_folder))) {
                Adopt(processId);
            }
        }
    }
    m_watcher.reset();
    for (HostProcess& process : m_processes) {
        if (!process.handle) {
            continue;
        }
        if (WaitForSingleObject(process.handle.get(), kServiceExitTimeoutMs) != WAIT_OBJECT_0) {
            ADD_FAILURE() << "the host process " << process.processId << " did not end and is killed";
            TerminateProcess(process.handle.get(), kNoExitCode);
            WaitForSingleObject(process.handle.get(), 5000);
        }
        process.handle.reset();
    }
    if (m_serviceHandle) {
        EXPECT_TRUE(DeleteService(m_serviceHandle.get())) << "DeleteService failed: " << GetLastError();
        m_serviceHandle.reset();
    }
    RememberServiceName();
    for (const std::wstring& name : m_serviceNames) {
        DeleteServiceKey(name);
    }
}

void ServiceTest::RemoveFiles()
{
    for (const HostProcess& process : m_processes) {
        DeleteLogsOf(BinDirectory(), process.processId);
    }
    DeleteFileW((BinDirectory() + L"QxWatchdogAgent." + m_service + L".status").c_str());
    DeleteFileW(m_traceFile.c_str());
    for (const std::wstring& folder : m_folders) {
        RemoveTree(folder);
    }
    for (const std::wstring& file : m_plantedFiles) {
        EXPECT_TRUE(DeleteFileW(file.c_str())) << ToUtf8(file) << ": " << GetLastError();
    }
}

} // namespace Qx::Testing
