#include "Common/ServiceHost/ServiceModuleManager.h"

#include <algorithm>
#include <exception>
#include <utility>

#include "Common/ServiceHost/ModuleName.h"
#include "Platform/Api/ProcessWide.h"
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

// The modules before a module that threw may run threads; they are stopped before the exception
// ends the start and their libraries can be freed.
void ServiceModuleManager::UndoStartAfterException(const ServiceModule& record) noexcept
{
    LogUtils::WithoutRaising(
        [&] { QX_LOG_ERROR("ServiceModule ", record.name, " initialization failed: exception thrown"); });
    ShutdownModules();
}

HRESULT ServiceModuleManager::CallSmInitialize(ServiceModule& record)
{
    ModuleEntryOutcome outcome;
    try {
        outcome = Libraries().CallSmInitialize(record.smInitialize, &record.moduleFlags);
    } catch (...) {
        UndoStartAfterException(record);
        throw;
    }
    if (outcome.foreignException) {
        UndoStartAfterException(record);
        throw ForeignModuleException{std::move(outcome.foreignType)};
    }
    return outcome.result;
}

void ServiceModuleManager::InitModules()
{
    for (const auto& record : m_modules) {
        QX_LOG(3, "Init ServiceModule ", record->name);
        const HRESULT hr = CallSmInitialize(*record);
        if (Failed(hr)) {
            QX_LOG(3, "ServiceModule ", record->name, " initialization failed ", hr);
            // The module's own COM error information is taken before the shut-down of the
            // others can replace it.
            const ErrorInfo errorInfo = Process().TakeThreadErrorInfo();
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
        try {
            QX_LOG(3, "Shutting down ServiceModule ", record->name);
        } catch (...) { // a record that cannot be logged must not keep the module running
        }
        if (Libraries().CallSmShutdown(record->smShutdown).foreignException) {
            // As an exception of the host's own runtime would, leaving this function.
            std::terminate();
        }
        record->initialized = false;
    }
}

bool ServiceModuleManager::AnyModuleKeepsGuard() const
{
    return std::ranges::any_of(m_modules,
                               [](const auto& record) { return (record->moduleFlags & kKeepsWatchDogGuard) != 0; });
}
