#include "ResKit/Logger/ExceptionHandlers.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>

#include "Platform/Api/ProcessWide.h"
#include "ResKit/Logger/LogUtils.h"

using namespace Qx;
using namespace Qx::Platform;

namespace LogUtils {

namespace {

constexpr int kExceptionRecordLine = 261;

// A C++ exception that nothing catches passes the unhandled filter, then std::terminate, then
// SIGABRT; each would write a dump of the same crash.
std::atomic<bool> g_crashDumpWritten{false};
NativeHandle g_heapCorruptionHandler = nullptr;
CrashDumpWriter g_writeDump = nullptr; // set once, before the first handler is installed

void DumpCrashOnce(const ExceptionDescription* exception)
{
    if (!g_crashDumpWritten.exchange(true)) {
        g_writeDump(exception);
    }
}

void OnTerminateOrAbort()
{
    DumpCrashOnce(nullptr);
}

std::int32_t UnhandledExceptionFilter(const ExceptionDescription& exception)
{
    DumpCrashOnce(&exception);
    std::int32_t verdict = kExceptionExecuteHandler;
    if (CrashHandling().CallPreviousFilter(exception, verdict)) {
        return verdict;
    }
    return kExceptionExecuteHandler;
}

std::int32_t HeapCorruptionHandler(const ExceptionDescription& exception)
{
    if (exception.code == kExceptionHeapCorruption) {
        DumpCrashOnce(&exception);
    }
    return kExceptionContinueSearch;
}

void RemoveCrashHandlers()
{
    auto& crash = CrashHandling();
    crash.RemoveVectoredHandler(g_heapCorruptionHandler);
    crash.RestorePreviousFilter();
}

bool AllParametersSet(const ExceptionDescription& exception)
{
    return std::ranges::all_of(exception.parameters, [](std::uintptr_t parameter) { return parameter != 0; });
}

// Logging an exception may raise one; that one must not be logged again on this thread.
thread_local bool t_loggingException = false;

} // namespace

void InstallCrashHandlers(CrashDumpWriter writeDump)
{
    static const CrashDumpWriter firstWriter = writeDump;
    g_writeDump = firstWriter;
    // Once per platform set, which in the host means once: tests replace the set. Taking the
    // handlers down is left to the exit-time action, which runs as late as the runtime allows.
    struct Installation {
        Installation()
        {
            g_crashDumpWritten.store(false);
            auto& crash = CrashHandling();
            crash.SendRuntimeErrorsToStandardError();
            crash.SetTerminateAndAbortHandler(&OnTerminateOrAbort);
            crash.SetInvalidParameterHandler();
            crash.SetUnhandledExceptionFilter(&UnhandledExceptionFilter);
            g_heapCorruptionHandler = crash.AddFirstVectoredHandler(&HeapCorruptionHandler);
        }
    };
    static ProcessWide<const Installation> installation([] { return std::make_unique<const Installation>(); });
    (void)installation.Get();
    static const bool removedAtExit = std::atexit(&RemoveCrashHandlers) == 0;
    (void)removedAtExit;
}

std::wstring ExceptionRecordText(const ExceptionDescription& exception)
{
    LogRecord record(1);
    if (exception.code == kExceptionAccessViolation) {
        record << "ACCESS_VIOLATION at " << exception.address;
    } else if (exception.thrownType != nullptr && *exception.thrownType == typeid(HRXEx)) {
        record << *static_cast<const HRXEx*>(exception.thrownObject);
    } else if (exception.thrownType != nullptr) {
        record << "Unknown type of exception object: " << exception.thrownType->name();
    } else if (exception.foreignThrownType != nullptr) {
        record << "Unknown type of exception object: " << exception.foreignThrownType;
    } else {
        wchar_t code[16];
        std::swprintf(code, std::size(code), L"0x%08X", static_cast<unsigned>(exception.code));
        record << "(" << static_cast<const wchar_t*>(code) << ")"
               << " Address: " << exception.address;
    }
    record << " in module: " << exception.module;
    return std::wstring(record.Text());
}

std::int32_t LogExceptionHandler(const ExceptionDescription& exception)
{
    if (!IsLevelEnabled(1)) {
        return kExceptionContinueSearch;
    }
    // A thrown object is recognised by its type; other exceptions need all four parameters.
    if (exception.thrownType == nullptr && exception.foreignThrownType == nullptr && !AllParametersSet(exception)) {
        return kExceptionContinueSearch;
    }
    if (t_loggingException) {
        return kExceptionContinueSearch;
    }
    t_loggingException = true;
    WithoutRaising([&] {
        WriteRecordAt(1, kSeverityDbg, L"LogUtils", kExceptionRecordLine,
                      "*** Exception: ", ExceptionRecordText(exception));
    });
    t_loggingException = false;
    return kExceptionContinueSearch;
}

} // namespace LogUtils
