#include "ResKit/Logger/ModuleLog.h"

#include <mutex>
#include <utility>

#include "Platform/Api/Platform.h"
#include "ResKit/Logger/ExceptionHandlers.h"
#include "ResKit/Logger/HRXEx.h"
#include "ResKit/Logger/InstalledLogger.h"

using namespace Qx;
using namespace Qx::Platform;

namespace LogUtils {

namespace {

// Number of live SModuleLogInit blocks; the last one to go removes the logger.
std::mutex g_moduleLogLock;
int g_moduleLogCount = 0; // guarded by g_moduleLogLock

} // namespace

SModuleLogInit::SModuleLogInit(const std::wstring& logName)
{
    hostInstance = Process().HostInstance();
    {
        std::lock_guard lock(g_moduleLogLock);
        ++g_moduleLogCount;
    }
    try {
        AcquireLogger();
        (void)GetLogger().Init(logName.c_str(), L"Module log", true, this);
        exceptionHandler = CrashHandling().AddFirstVectoredHandler(&LogExceptionHandler);
    } catch (const HRXEx&) { // the host runs on without a module log
    }
}

SModuleLogInit::~SModuleLogInit()
{
    if (exceptionHandler != nullptr) {
        CrashHandling().RemoveVectoredHandler(std::exchange(exceptionHandler, nullptr));
    }
    std::lock_guard lock(g_moduleLogLock);
    if (--g_moduleLogCount > 0) {
        return;
    }
    IFileLoggerItf* previous = ExchangeLogger(&DevNullLogger());
    if (previous != &DevNullLogger()) {
        DestroyInterfaceObject(previous);
    }
}

} // namespace LogUtils
