#include "ServiceHarness.h"

#include <tlhelp32.h>

#include <atomic>
#include <cstdio>
#include <set>
#include <thread>

namespace QxE2E {

namespace {

using QxWineTest::FileExists;
using QxWineTest::IsNumber;
using QxWineTest::ParseTraceLine;

// Empty when there is no such file (yet).
std::string ReadFileIfPresent(const std::wstring& path)
{
    return QxWineTest::ReadWholeFile(path).value_or(std::string());
}

constexpr const wchar_t* kTestModulesKey = L"SOFTWARE\\Qx\\TestModules";
constexpr const wchar_t* kBehaviourValues[] = {L"DelayMs", L"Crash", L"Flags", L"Result"};
constexpr const wchar_t* kTestModules[] = {L"QxTestModuleA", L"QxTestModuleB", L"QxTestModuleC"};

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
    const HANDLE search = FindFirstFileW((folder + L"*").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
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
        } while (FindNextFileW(search, &found));
        FindClose(search);
    }
    EXPECT_TRUE(RemoveDirectoryW(folder.c_str())) << ToUtf8(folder) << ": " << GetLastError();
}

void DeleteLogsOf(const std::wstring& folder, DWORD processId)
{
    const std::wstring logs = folder + L"Logs\\";
    WIN32_FIND_DATAW found{};
    const HANDLE search = FindFirstFileW((logs + L"*(" + std::to_wstring(processId) + L")*.log").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) {
        return;
    }
    do {
        DeleteFileW((logs + found.cFileName).c_str());
    } while (FindNextFileW(search, &found));
    FindClose(search);
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
    HostProcessWatcher() : known_(HostProcessIds())
    {
        thread_ = std::thread([this] { Watch(); });
    }

    ~HostProcessWatcher()
    {
        Stop();
        for (const auto& [processId, handle] : found_) {
            CloseHandle(handle);
        }
    }

    HostProcessWatcher(const HostProcessWatcher&) = delete;
    HostProcessWatcher& operator=(const HostProcessWatcher&) = delete;

    // Stops watching and hands over the handle of the new host process processId, null when none
    // was seen.
    HANDLE Take(DWORD processId)
    {
        Stop();
        const auto found = found_.find(processId);
        if (found == found_.end()) {
            return nullptr;
        }
        const HANDLE handle = found->second;
        found_.erase(found);
        return handle;
    }

    // Stops watching and lists every host process that appeared.
    std::vector<DWORD> Found()
    {
        Stop();
        std::vector<DWORD> processIds;
        for (const auto& [processId, handle] : found_) {
            processIds.push_back(processId);
        }
        return processIds;
    }

private:
    static std::set<DWORD> HostProcessIds()
    {
        std::set<DWORD> processIds;
        const HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
        if (snapshot == INVALID_HANDLE_VALUE) {
            return processIds;
        }
        PROCESSENTRY32W entry{};
        entry.dwSize = sizeof(entry);
        for (BOOL more = Process32FirstW(snapshot, &entry); more; more = Process32NextW(snapshot, &entry)) {
            if (_wcsicmp(entry.szExeFile, kHostExe) == 0) {
                processIds.insert(entry.th32ProcessID);
            }
        }
        CloseHandle(snapshot);
        return processIds;
    }

    void Stop()
    {
        stop_ = true;
        if (thread_.joinable()) {
            thread_.join();
        }
    }

    void Watch()
    {
        while (!stop_) {
            for (const DWORD processId : HostProcessIds()) {
                if (!known_.insert(processId).second) {
                    continue;
                }
                const HANDLE handle =
                    OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION | PROCESS_TERMINATE, FALSE, processId);
                if (handle != nullptr) {
                    found_[processId] = handle;
                }
            }
            Sleep(2);
        }
    }

    std::set<DWORD> known_;
    // Written by the watching thread only; read after Stop has joined it.
    std::map<DWORD, HANDLE> found_;
    std::atomic<bool> stop_{false};
    std::thread thread_;
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
    // Records of other threads, such as the control handler's, may come in between.
    std::size_t index = at;
    for (const auto& [number, text] : insertions) {
        const std::string expected = indentation + "       %" + std::to_string(number) + "=" + text;
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

RegistryValueOverride::RegistryValueOverride(std::wstring keyPath, std::wstring valueName)
    : keyPath_(std::move(keyPath)), valueName_(std::move(valueName))
{
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, keyPath_.c_str(), 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS) {
        return;
    }
    DWORD size = 0;
    if (RegQueryValueExW(key, valueName_.c_str(), nullptr, &savedType_, nullptr, &size) == ERROR_SUCCESS) {
        savedData_.resize(size);
        valueExisted_ =
            RegQueryValueExW(key, valueName_.c_str(), nullptr, &savedType_, savedData_.data(), &size) == ERROR_SUCCESS;
        savedData_.resize(size);
    }
    RegCloseKey(key);
}

RegistryValueOverride::~RegistryValueOverride()
{
    if (valueExisted_) {
        Set(savedType_, savedData_.data(), static_cast<DWORD>(savedData_.size()));
    } else {
        Remove();
    }
    if (!firstCreatedKey_.empty()) {
        EXPECT_EQ(ERROR_SUCCESS, RegDeleteTreeW(HKEY_LOCAL_MACHINE, firstCreatedKey_.c_str()))
            << ToUtf8(firstCreatedKey_);
    }
}

void RegistryValueOverride::SetDword(DWORD value)
{
    Set(REG_DWORD, &value, sizeof(value));
}

void RegistryValueOverride::SetString(std::wstring_view value)
{
    const std::wstring terminated(value);
    Set(REG_SZ, terminated.c_str(), static_cast<DWORD>((terminated.size() + 1) * sizeof(wchar_t)));
}

void RegistryValueOverride::Remove()
{
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, keyPath_.c_str(), 0, KEY_SET_VALUE, &key) != ERROR_SUCCESS) {
        return;
    }
    RegDeleteValueW(key, valueName_.c_str());
    RegCloseKey(key);
}

void RegistryValueOverride::Set(DWORD type, const void* data, DWORD size)
{
    // The outermost key this object brings into being is the one it removes again.
    if (firstCreatedKey_.empty()) {
        for (std::size_t end = keyPath_.find(L'\\');; end = keyPath_.find(L'\\', end + 1)) {
            const std::wstring path = keyPath_.substr(0, end);
            HKEY existing = nullptr;
            if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ, &existing) != ERROR_SUCCESS) {
                firstCreatedKey_ = path;
                break;
            }
            RegCloseKey(existing);
            if (end == std::wstring::npos) {
                break;
            }
        }
    }
    HKEY key = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(HKEY_LOCAL_MACHINE, keyPath_.c_str(), 0, nullptr, 0, KEY_SET_VALUE,
                                             nullptr, &key, nullptr))
        << ToUtf8(keyPath_);
    EXPECT_EQ(ERROR_SUCCESS, RegSetValueExW(key, valueName_.c_str(), 0, type, static_cast<const BYTE*>(data), size))
        << ToUtf8(keyPath_) << " " << ToUtf8(valueName_);
    RegCloseKey(key);
}

ServiceTest::ServiceTest() = default;
ServiceTest::~ServiceTest() = default;

void ServiceTest::SetUp()
{
    runLock_ = CreateMutexW(nullptr, FALSE, L"Global\\QxEndToEndServiceTests");
    ASSERT_NE(nullptr, runLock_) << "CreateMutexW failed: " << GetLastError();
    const DWORD waited = WaitForSingleObject(runLock_, kRunLockTimeoutMs);
    if (waited != WAIT_OBJECT_0 && waited != WAIT_ABANDONED) {
        CloseHandle(runLock_);
        runLock_ = nullptr;
        FAIL() << "another run's service test did not end within " << kRunLockTimeoutMs << " ms (wait " << waited
               << ")";
    }
    service_ = UniqueServiceName(::testing::UnitTest::GetInstance()->current_test_info()->name());
    folder_ = BinDirectory();
    manager_ = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
    ASSERT_NE(nullptr, manager_) << "OpenSCManagerW failed: " << GetLastError();
    DeleteLeftoverService();
    DeleteServiceKey(service_);
    traceFile_ = BinDirectory() + service_ + L".trace";
    DeleteFileW(traceFile_.c_str());
    Override(kTestModulesKey, L"TraceFile").SetString(traceFile_);
    for (const wchar_t* module : kTestModules) {
        for (const wchar_t* value : kBehaviourValues) {
            Override(std::wstring(kTestModulesKey) + L"\\" + module, value).Remove();
        }
    }
}

void ServiceTest::TearDown()
{
    StopAndDelete();
    while (!overrides_.empty()) {
        overrides_.pop_back();
    }
    RemoveFiles();
    if (manager_ != nullptr) {
        CloseServiceHandle(manager_);
        manager_ = nullptr;
    }
    if (runLock_ != nullptr) {
        ReleaseMutex(runLock_);
        CloseHandle(runLock_);
        runLock_ = nullptr;
    }
}

std::wstring ServiceTest::MakeHostFolder(std::wstring_view suffix,
                                         const std::vector<std::pair<std::wstring, std::wstring>>& files)
{
    const std::wstring folder = BinDirectory() + L"e2e-" + service_ + std::wstring(suffix) + L"\\";
    if (!CreateDirectoryW(folder.c_str(), nullptr)) {
        ADD_FAILURE() << "cannot create " << ToUtf8(folder) << ": " << GetLastError();
        return folder;
    }
    folders_.push_back(folder);
    for (const auto& [source, target] : files) {
        EXPECT_TRUE(CopyFileW((BinDirectory() + source).c_str(), (folder + target).c_str(), TRUE))
            << ToUtf8(source) << " -> " << ToUtf8(folder + target) << ": " << GetLastError();
    }
    return folder;
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
    plantedFiles_.push_back(target);
}

void ServiceTest::Install(const std::wstring& folder)
{
    const std::wstring binaryPath = L"\"" + folder + kHostExe + L"\" -name=" + service_;
    serviceHandle_ = CreateServiceW(manager_, service_.c_str(), service_.c_str(), SERVICE_ALL_ACCESS,
                                    SERVICE_WIN32_OWN_PROCESS, SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL,
                                    binaryPath.c_str(), nullptr, nullptr, nullptr, nullptr, nullptr);
    ASSERT_NE(nullptr, serviceHandle_) << "CreateServiceW failed: " << GetLastError();
    folder_ = folder;
}

void ServiceTest::MoveTo(const std::wstring& folder)
{
    const std::wstring binaryPath = L"\"" + folder + kHostExe + L"\" -name=" + service_;
    ASSERT_TRUE(ChangeServiceConfigW(serviceHandle_, SERVICE_NO_CHANGE, SERVICE_NO_CHANGE, SERVICE_NO_CHANGE,
                                     binaryPath.c_str(), nullptr, nullptr, nullptr, nullptr, nullptr, nullptr))
        << "ChangeServiceConfigW failed: " << GetLastError();
    folder_ = folder;
}

void ServiceTest::WriteParameters(std::wstring_view modules, DWORD serviceName)
{
    ASSERT_EQ(ERROR_SUCCESS, SetParameterString(service_, L"ServiceModules", modules));
    ASSERT_EQ(ERROR_SUCCESS, SetParameterDword(service_, L"ServiceName", serviceName));
}

void ServiceTest::SetModuleValue(std::wstring_view module, const wchar_t* name, DWORD value)
{
    Override(std::wstring(kTestModulesKey) + L"\\" + std::wstring(module), name).SetDword(value);
}

RegistryValueOverride& ServiceTest::Override(std::wstring keyPath, std::wstring valueName)
{
    overrides_.push_back(std::make_unique<RegistryValueOverride>(std::move(keyPath), std::move(valueName)));
    return *overrides_.back();
}

DWORD ServiceTest::Start()
{
    current_.reset();
    watcher_ = std::make_unique<HostProcessWatcher>();
    if (!StartServiceW(serviceHandle_, 0, nullptr)) {
        return GetLastError();
    }
    const SERVICE_STATUS_PROCESS status = Query();
    if (status.dwProcessId != 0) {
        Adopt(status.dwProcessId);
    }
    return ERROR_SUCCESS;
}

SERVICE_STATUS_PROCESS ServiceTest::Query()
{
    SERVICE_STATUS_PROCESS status{};
    DWORD needed = 0;
    EXPECT_TRUE(QueryServiceStatusEx(serviceHandle_, SC_STATUS_PROCESS_INFO, reinterpret_cast<BYTE*>(&status),
                                     sizeof(status), &needed))
        << "QueryServiceStatusEx failed: " << GetLastError();
    return status;
}

::testing::AssertionResult ServiceTest::WaitForState(DWORD state, DWORD timeoutMs)
{
    const ULONGLONG started = GetTickCount64();
    for (;;) {
        const SERVICE_STATUS_PROCESS status = Query();
        if (status.dwCurrentState == state) {
            return ::testing::AssertionSuccess();
        }
        if (GetTickCount64() - started >= timeoutMs) {
            return ::testing::AssertionFailure()
                   << "state " << state << " not reached within " << timeoutMs << " ms: " << Describe(status);
        }
        SleepEx(kServicePollMs, TRUE);
    }
}

DWORD ServiceTest::Control(DWORD code, SERVICE_STATUS* status)
{
    SERVICE_STATUS returned{};
    const BOOL sent = ControlService(serviceHandle_, code, &returned);
    if (status != nullptr) {
        *status = returned;
    }
    return sent ? ERROR_SUCCESS : GetLastError();
}

DWORD ServiceTest::ProcessId()
{
    if (current_) {
        return processes_[*current_].processId;
    }
    if (!watcher_) {
        ADD_FAILURE() << "the service was not started";
        return 0;
    }
    std::vector<DWORD> ours;
    for (const DWORD processId : watcher_->Found()) {
        if (FileExists(LogPath(service_, processId, folder_))) {
            ours.push_back(processId);
        }
    }
    if (ours.size() != 1) {
        ADD_FAILURE() << ours.size() << " host processes wrote a log for " << ToUtf8(service_) << ", expected one";
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
    const HANDLE process = processes_[*current_].handle;
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
    return ReadLog(LogPath(service_, processId, folder_));
}

std::vector<TraceLine> ServiceTest::ReadTrace() const
{
    std::vector<TraceLine> lines;
    for (const std::string& line : CrLfLines(ReadFileIfPresent(traceFile_))) {
        lines.push_back(ParseTraceLine(line));
    }
    return lines;
}

WatchdogStatus ServiceTest::ReadWatchdogStatus(const std::wstring& folder) const
{
    WatchdogStatus status;
    const std::wstring path = folder + L"QxWatchdogAgent." + service_ + L".status";
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

void ServiceTest::DeleteLeftoverService()
{
    const SC_HANDLE leftover = OpenServiceW(manager_, service_.c_str(), SERVICE_ALL_ACCESS);
    if (leftover == nullptr) {
        return;
    }
    SERVICE_STATUS status{};
    ControlService(leftover, SERVICE_CONTROL_STOP, &status);
    DeleteService(leftover);
    CloseServiceHandle(leftover);
}

void ServiceTest::Adopt(DWORD processId)
{
    HANDLE handle = watcher_ ? watcher_->Take(processId) : nullptr;
    watcher_.reset();
    if (handle == nullptr) {
        handle = OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION | PROCESS_TERMINATE, FALSE, processId);
        EXPECT_NE(nullptr, handle) << "cannot open the host process " << processId << ": " << GetLastError();
    }
    current_ = processes_.size();
    processes_.push_back({processId, handle});
}

void ServiceTest::StopAndDelete()
{
    if (serviceHandle_ != nullptr) {
        SERVICE_STATUS_PROCESS status{};
        DWORD needed = 0;
        if (QueryServiceStatusEx(serviceHandle_, SC_STATUS_PROCESS_INFO, reinterpret_cast<BYTE*>(&status),
                                 sizeof(status), &needed) &&
            status.dwCurrentState != SERVICE_STOPPED) {
            if (status.dwProcessId != 0 && !current_) {
                Adopt(status.dwProcessId);
            }
            // Wine's SCM keeps reporting a service whose process died in its last state: there is
            // nothing left to stop, and waiting for SERVICE_STOPPED would only run into the time-out.
            const bool processEnded = current_ && processes_[*current_].handle != nullptr &&
                                      WaitForSingleObject(processes_[*current_].handle, 0) == WAIT_OBJECT_0;
            if (!processEnded) {
                Control(SERVICE_CONTROL_STOP);
                (void)WaitForState(SERVICE_STOPPED);
            }
        }
    }
    if (watcher_ && !current_) {
        for (const DWORD processId : watcher_->Found()) {
            if (FileExists(LogPath(service_, processId, folder_))) {
                Adopt(processId);
            }
        }
    }
    watcher_.reset();
    for (HostProcess& process : processes_) {
        if (process.handle == nullptr) {
            continue;
        }
        if (WaitForSingleObject(process.handle, kServiceExitTimeoutMs) != WAIT_OBJECT_0) {
            ADD_FAILURE() << "the host process " << process.processId << " did not end and is killed";
            TerminateProcess(process.handle, kNoExitCode);
            WaitForSingleObject(process.handle, 5000);
        }
        CloseHandle(process.handle);
        process.handle = nullptr;
    }
    if (serviceHandle_ != nullptr) {
        EXPECT_TRUE(DeleteService(serviceHandle_)) << "DeleteService failed: " << GetLastError();
        CloseServiceHandle(serviceHandle_);
        serviceHandle_ = nullptr;
    }
    DeleteServiceKey(service_);
}

void ServiceTest::RemoveFiles()
{
    for (const HostProcess& process : processes_) {
        DeleteLogsOf(BinDirectory(), process.processId);
    }
    DeleteFileW((BinDirectory() + L"QxWatchdogAgent." + service_ + L".status").c_str());
    DeleteFileW(traceFile_.c_str());
    for (const std::wstring& folder : folders_) {
        RemoveTree(folder);
    }
    for (const std::wstring& file : plantedFiles_) {
        EXPECT_TRUE(DeleteFileW(file.c_str())) << ToUtf8(file) << ": " << GetLastError();
    }
}

} // namespace QxE2E
