#include "Common/ServiceHost/ServiceModuleManager.h"

#include <algorithm>
#include <cwchar>
#include <exception>
#include <iterator>
#include <typeinfo>
#include <utility>

#if defined(__GLIBCXX__)
#include <cxxabi.h>
#endif

#include "Common/ServiceHost/ModuleName.h"
#include "Platform/Api/ProcessWide.h"
#include "ResKit/Logger/ExceptionHandlers.h"
#include "ResKit/Logger/LogUtils.h"

using namespace Qx;
using namespace Qx::Platform;

namespace {

std::shared_ptr<ServiceModuleManager::ServiceModule> LoadModule(const std::wstring& name)
{
    auto record = std::make_shared<ServiceModuleManager::ServiceModule>();
    record->name = name;
    QX_LOG(3, "Loading module:", record->name);
    const std::optional<std::wstring> loadName = ModuleLoadName(record->name, ExecutableFolder());
    if (!loadName) {
        QX_LOG_ERROR("Failed to load ", record->name, " Error:", kErrorInvalidParameter,
                     " (the name leads out of the host's folder or is no file name)");
        RaiseWin32(kErrorInvalidParameter);
    }
    const Win32Error loadError = Libraries().Load(*loadName, record->module);
    if (loadError != kErrorSuccess) {
        QX_LOG_ERROR("Failed to load ", record->name, " Error:", loadError);
        RaiseWin32(loadError);
    }
    auto& libraries = Libraries();
    record->smInitialize = reinterpret_cast<ServiceModuleManager::SmInitializeFunction>(
        libraries.GetProc(record->module.get(), "SmInitialize"));
    record->smShutdown = reinterpret_cast<ServiceModuleManager::SmShutdownFunction>(
        libraries.GetProc(record->module.get(), "SmShutdown"));
    // Calling through a missing export would crash the service; such a library is refused.
    if (record->smInitialize == nullptr || record->smShutdown == nullptr) {
        QX_LOG_ERROR("Failed to load ", record->name, " Error:", kErrorProcNotFound);
        RaiseWin32(kErrorProcNotFound);
    }
    return record;
}

} // namespace

std::vector<std::wstring> SplitModuleList(const std::wstring& moduleList)
{
    static constexpr const wchar_t* kSeparators = L";,";
    std::vector<std::wstring> names;
    std::size_t position = 0;
    while (position < moduleList.size()) {
        const std::size_t start = moduleList.find_first_not_of(kSeparators, position);
        if (start == std::wstring::npos) {
            break;
        }
        std::size_t end = moduleList.find_first_of(kSeparators, start);
        if (end == std::wstring::npos) {
            end = moduleList.size();
        }
        names.push_back(moduleList.substr(start, end - start));
        position = end + 1;
    }
    return names;
}

ServiceModuleManager& ServiceModuleManager::Instance()
{
    static ProcessWide<ServiceModuleManager> manager([] { return std::make_unique<ServiceModuleManager>(); });
    return manager.Get();
}

void ServiceModuleManager::Load(const std::wstring& moduleList)
{
    QX_FUNCTION_TRACE(L"ServiceModuleManager::Load");
    std::vector<std::shared_ptr<ServiceModule>> loaded;
    for (const auto& name : SplitModuleList(moduleList)) {
        loaded.push_back(LoadModule(name));
    }
    m_modules.swap(loaded);
}

std::string CurrentExceptionType()
{
#if defined(__GLIBCXX__)
    const std::type_info* type = abi::__cxa_current_exception_type();
    return type != nullptr ? type->name() : std::string();
#else
    return {};
#endif
}

namespace {

// The one record at level 1 that names the module that failed the start: its file, what its
// SmInitialize did and how long it ran.
void LogModuleFailure(const ServiceModuleManager::ServiceModule& record, std::uint64_t startedAt,
                      const std::wstring& what) noexcept
{
    LogUtils::WithoutRaising([&] {
        std::wstring file;
        if (Process().ModuleFileName(record.module.get(), file) != kErrorSuccess) {
            file = record.name;
        }
        QX_LOG_ERROR("ServiceModule ", record.name, " failed the start after ", Process().TickCount64() - startedAt,
                     " ms: ", what, "; file ", file);
    });
}

std::wstring Thrown(const std::string& type)
{
    return type.empty() ? std::wstring(L"SmInitialize threw an exception")
                        : L"SmInitialize threw " + std::wstring(type.begin(), type.end());
}

std::wstring HexCode(std::uint32_t code)
{
    wchar_t text[16];
    std::swprintf(text, std::size(text), L"0x%08X", static_cast<unsigned>(code));
    return text;
}

std::wstring Returned(HRESULT hr, const ErrorInfo& errorInfo)
{
    const std::wstring description = errorInfo ? errorInfo->Description() : std::wstring();
    return L"SmInitialize returned " + HexCode(static_cast<std::uint32_t>(hr)) +
           (description.empty() ? L"" : L" (" + description + L")");
}

} // namespace

// The modules before a module that threw may run threads; they are stopped before the exception
// ends the start and their libraries can be freed.
void ServiceModuleManager::UndoStartAfterException(const ServiceModule& record, std::uint64_t startedAt,
                                                   const std::string& type) noexcept
{
    LogModuleFailure(record, startedAt, Thrown(type));
    LogUtils::WithoutRaising(
        [&] { QX_LOG_ERROR("ServiceModule ", record.name, " initialization failed: exception thrown"); });
    ShutdownModules();
}

HRESULT ServiceModuleManager::CallSmInitialize(ServiceModule& record, std::uint64_t startedAt)
{
    ModuleEntryOutcome outcome;
    try {
        outcome = Libraries().CallSmInitialize(record.smInitialize, &record.moduleFlags);
    } catch (...) {
        UndoStartAfterException(record, startedAt, CurrentExceptionType());
        throw;
    }
    if (outcome.foreignException) {
        UndoStartAfterException(record, startedAt, outcome.foreignType);
        throw ForeignModuleException{std::move(outcome.foreignType)};
    }
    return outcome.result;
}

void ServiceModuleManager::InitModules()
{
    m_initializing.reset();
    for (const auto& record : m_modules) {
        QX_LOG(3, "Init ServiceModule ", record->name);
        const std::uint64_t startedAt = Process().TickCount64();
        m_initializingSince = startedAt;
        m_initializing = record;
        const HRESULT hr = CallSmInitialize(*record, startedAt);
        m_initializing.reset();
        LogUtils::WithoutRaising([] { LogUtils::ReassertCrashFilter(); });
        if (Failed(hr)) {
            // The module's own COM error information is taken before the shut-down of the
            // others can replace it.
            const ErrorInfo errorInfo = Process().TakeThreadErrorInfo();
            LogModuleFailure(*record, startedAt, Returned(hr, errorInfo));
            QX_LOG(3, "ServiceModule ", record->name, " initialization failed ", hr);
            ShutdownModules();
            RaiseWithErrorInfo(hr, errorInfo);
        }
        record->initialized = true;
    }
}

void ServiceModuleManager::ShutdownModules() noexcept
{
    for (auto it = m_modules.rbegin(); it != m_modules.rend(); ++it) {
        const auto& record = *it;
        if (!record->initialized) {
            continue;
        }
        LogUtils::WithoutRaising([&] { QX_LOG(3, "Shutting down ServiceModule ", record->name); });
        if (Libraries().CallSmShutdown(record->smShutdown).foreignException) {
            // As an exception of the host's own runtime would, leaving this function.
            std::terminate();
        }
        LogUtils::WithoutRaising([] { LogUtils::ReassertCrashFilter(); });
        record->initialized = false;
    }
}

std::wstring ServiceModuleManager::AbandonInitialization(std::uint32_t threadExitCode)
{
    const std::wstring ended =
        L"ended the initialisation thread without returning (thread exit code " + HexCode(threadExitCode) + L")";
    if (!m_initializing) {
        QX_LOG_ERROR("The initialisation thread ", ended, ", outside any module's SmInitialize");
        return L"The initialisation thread " + ended;
    }
    LogModuleFailure(*m_initializing, m_initializingSince, L"SmInitialize " + ended);
    std::wstring what = L"ServiceModule " + m_initializing->name + L" " + ended + L" in SmInitialize";
    m_initializing.reset();
    ShutdownModules();
    return what;
}

bool ServiceModuleManager::AnyModuleKeepsGuard() const
{
    return std::ranges::any_of(m_modules,
                               [](const auto& record) { return (record->moduleFlags & kKeepsWatchDogGuard) != 0; });
}
