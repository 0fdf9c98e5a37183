#include "ResKit/ServiceHost/ServiceHostEntry.h"

#include <memory>

#include "Common/AtlServiceEx.h"
#include "Common/DumpGenImpl.h"
#include "Common/LogCompressor/LogComprLoader.h"
#include "Common/ProductInfo.h"
#include "Common/ServiceFileName.h"
#include "Common/ServiceHost/ServiceConfiguration.h"
#include "Common/ServiceHost/ServiceModuleManager.h"
#include "Common/ServiceState/ServiceInternalState.h"
#include "Common/UiLanguage.h"
#include "Common/WatchdogAgent.h"
#include "Common/audit/EventReporters.h"
#include "ResKit/Logger/ExceptionHandlers.h"
#include "ResKit/Logger/LogModuleInfo.h"
#include "ResKit/Logger/LogUtils.h"
#include "ResKit/ServiceHost/CommandLine.h"

using namespace Qx;
using namespace Qx::Platform;

namespace {

// The module log of the service named on the command line; empty until then.
std::shared_ptr<LogUtils::SModuleLogInit>& ModuleLogHolder()
{
    static std::shared_ptr<LogUtils::SModuleLogInit> holder;
    return holder;
}

std::wstring ModuleLogName(const std::wstring& serviceName)
{
    return ServiceFileName(serviceName) + L"(" + std::to_wstring(Process().CurrentProcessId()) + L").log";
}

void LogServiceNameFault(const ServiceNameFault& fault, const std::wstring& name)
{
    switch (fault.kind) {
    case ServiceNameFault::Kind::Empty:
        QX_LOG(1, "param value: empty");
        break;
    case ServiceNameFault::Kind::TooLong:
        QX_LOG(1, "param value: too long: ", static_cast<unsigned>(name.size()));
        break;
    case ServiceNameFault::Kind::RefusedCharacter:
        QX_LOG(1, "param value: invalid character: ", CharacterCode(fault.character));
        break;
    }
}

} // namespace

void RunStartupInitialization()
{
    // Logging sits below the message libraries and the dump writer; it gets them from here.
    LogUtils::InstallErrorDescriber(&GetErrorDescription);
    // Before anything loads a library: a service's current folder is the Windows folder, where
    // anyone who can write there could plant a library the host would otherwise run. Without the
    // restriction the host still works, so a failure is only reported, once a logger exists.
    const Win32Error searchError = Libraries().RestrictSearchToSafeFolders();
    GetProductInfo();
    LogUtils::AcquireLogger();
    LogUtils::AttributeIndices();
    if (searchError != kErrorSuccess) {
        QX_LOG_ERROR("SetDefaultDllDirectories failed Error:", searchError);
    }
    DumpGenImpl::Instance();
    LogUtils::InstallCrashHandlers(&WriteCrashDump);
    CServiceModule::Instance();
    ServiceModuleManager::Instance();
    CServiceConfigurationImpl::Instance();
    LogComprLdr::instance();
    WatchdogAgent::Instance();
    DisabledEventState::Instance();
    EventReporterRegistry::Instance();
    InternalState::Instance();
}

void ApplyServiceNameRule(const std::wstring& parameter)
{
    if (!IsServiceNameParameter(parameter)) {
        return;
    }
    QX_LOG(1, "Param 'name' found");
    const ServiceNameValue name = ExtractServiceNameValue(parameter);
    // A value of only spaces names no service, so it fails like a missing one. The name becomes part
    // of the log and dump file paths.
    if (const auto fault = CheckServiceName(name.value)) {
        LogServiceNameFault(*fault, name.value);
        RaiseIfFailed(kEInvalidArg);
    }
    // The new log is set up before the previous one is released, so a repeated parameter
    // keeps the logger installed.
    ModuleLogHolder() = std::make_shared<LogUtils::SModuleLogInit>(ModuleLogName(name.value));
    LogUtils::LogModuleInfo(&ReadVersionInProductLanguage);
    QX_LOG(1, "param value: ", name.value);
    CServiceModule::Instance().SetServiceName(name.value);
    CServiceConfigurationImpl::Instance().Load(name.value);
    DumpGenImpl::Instance().SetDumpBaseName(name.value);
}

int RunServiceHostEntry(const wchar_t* arguments)
{
    try {
        const std::wstring commandLine = arguments != nullptr ? arguments : L"";
        QX_LOG(1, "cmdLine: ", commandLine);
        for (const auto& parameter : SplitParameters(commandLine)) {
            QX_LOG(1, "CmdLine Param: ", parameter);
            ApplyServiceNameRule(parameter);
        }
        if (CServiceModule::Instance().FrameworkLockFailed()) {
            return -1;
        }
        const CommandLineDecision decision = ParseCommandLine(Process().CommandLine());
        if (!decision.startService) {
            return decision.exitCode;
        }
    } catch (const HRXEx& error) {
        QX_LOG_ERROR("WinMain failed: ", error);
        return error.Result();
    }
    return static_cast<int>(CServiceModule::Instance().Start());
}
