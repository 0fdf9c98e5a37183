#include "ResKit/Logger/ExceptionHandlers.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>

#include "Platform/Api/ProcessWide.h"
#include "ResKit/Logger/FixedTextWriter.h"
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
// The thread that runs a chained filter from the host's, 0 when none does: a chained filter that
// hands the exception on to the filter it replaced calls the host's again.
std::atomic<std::uint32_t> g_chainingThread{0};

// Long enough for a module path, a dump path and the rest; the log record holds it without
// allocating.
constexpr std::size_t kCrashRecordCharacters = LogRecord::kReservedCharacters;
constexpr std::size_t kModuleFileCharacters = 260;

void WriteCrashRecord(const ExceptionDescription* exception, const CrashDumpResult& dump)
{
    wchar_t text[kCrashRecordCharacters];
    (void)FormatCrashRecord(exception, Process().CurrentThreadId(), dump, text);
    WithoutRaising(
        [&] { WriteRecordAt(1, kSeverityError, QX_SOURCE_FILE, __LINE__, static_cast<const wchar_t*>(text)); });
}

void DumpCrashOnce(const ExceptionDescription* exception)
{
    if (!g_crashDumpWritten.exchange(true)) {
        WriteCrashRecord(exception, g_writeDump(exception));
    }
}

void OnTerminateOrAbort()
{
    DumpCrashOnce(nullptr);
}

// The verdict of the filter the host replaced. A C++ exception of g++'s runtime that nothing caught
// would continue from there into std::terminate and end the process with abort()'s 3 (and a second
// try at a dump); it ends with its exception code instead, as one of Microsoft's runtime does, so
// that the exit code names the dump.
std::int32_t PreviousVerdict(const ExceptionDescription& exception, std::int32_t verdictWithoutOne)
{
    std::int32_t verdict = verdictWithoutOne;
    if (exception.code == kExceptionGccThrow || !CrashHandling().CallPreviousFilter(exception, verdict)) {
        return verdictWithoutOne;
    }
    return verdict;
}

std::int32_t UnhandledExceptionFilter(const ExceptionDescription& exception)
{
    const std::uint32_t thread = Process().CurrentThreadId();
    if (g_chainingThread.load() == thread) {
        // The chained filter handed the exception on to the one it replaced, the host's.
        return PreviousVerdict(exception, kExceptionContinueSearch);
    }
    DumpCrashOnce(&exception);
    std::int32_t verdict = kExceptionExecuteHandler;
    g_chainingThread.store(thread);
    const bool chained = CrashHandling().CallChainedFilter(exception, verdict);
    g_chainingThread.store(0);
    return chained ? verdict : PreviousVerdict(exception, kExceptionExecuteHandler);
}

void PutNarrow(FixedTextWriter& text, const char* narrow)
{
    for (; *narrow != '\0'; ++narrow) {
        text.Put(static_cast<wchar_t>(static_cast<unsigned char>(*narrow)));
    }
}

// Where the exception happened, or for a thrown C++ object which and who threw it.
void PutCrashSite(FixedTextWriter& text, const ExceptionDescription& exception)
{
    wchar_t file[kModuleFileCharacters];
    const bool inModule = CrashHandling().ModuleFileName(exception.module, file) != 0;
    const char* thrownType =
        exception.thrownType != nullptr ? exception.thrownType->name() : exception.foreignThrownType;
    if (thrownType != nullptr) {
        text.Put(L": C++ exception ");
        PutNarrow(text, thrownType);
        text.Put(L" thrown in ");
        text.Put(inModule ? std::wstring_view(file) : std::wstring_view(L"an unknown module"));
        return;
    }
    const auto address = reinterpret_cast<std::uintptr_t>(exception.address);
    text.Put(L" at ");
    if (inModule) {
        text.Put(std::wstring_view(file));
        text.Put(L"+0x");
        text.PutNumber(address - reinterpret_cast<std::uintptr_t>(exception.module), 16, true);
    } else {
        text.Put(L"0x");
        text.PutNumber(address, 16, true, 16);
        text.Put(L" outside any module");
    }
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

void ReassertCrashFilter()
{
    auto& crash = CrashHandling();
    const void* owner = nullptr;
    if (!crash.ReassertUnhandledExceptionFilter(owner)) {
        return;
    }
    wchar_t file[kModuleFileCharacters];
    if (owner == nullptr || crash.ModuleFileName(owner, file) == 0) {
        QX_LOG_AT(1, kSeverityWarn,
                  "An unhandled-exception filter outside any loaded image had replaced the host's; the host's is in "
                  "front again and does not call it");
        return;
    }
    QX_LOG_AT(1, kSeverityWarn, "The unhandled-exception filter of ", static_cast<const wchar_t*>(file),
              " had replaced the host's; the host's is in front again and calls it after writing the crash dump");
}

bool FormatCrashRecord(const ExceptionDescription* exception, std::uint32_t threadId, const CrashDumpResult& dump,
                       std::span<wchar_t> buffer)
{
    FixedTextWriter text(buffer);
    if (exception == nullptr) {
        text.Put(L"Crash: std::terminate or abort()");
    } else {
        text.Put(L"Crash 0x");
        text.PutNumber(exception->code, 16, true, 8);
        PutCrashSite(text, *exception);
    }
    text.Put(L" on thread ");
    text.PutNumber(threadId, 10, true);
    if (dump.path != nullptr) {
        text.Put(L"; dump ");
        text.Put(std::wstring_view(dump.path));
    } else {
        text.Put(L"; no dump written: ");
        text.Put(std::wstring_view(dump.failure != nullptr ? dump.failure : L"the dump writer gave no reason"));
    }
    return text.Finish();
}

bool FormatCrashSite(const ExceptionDescription& exception, std::span<wchar_t> buffer)
{
    FixedTextWriter text(buffer);
    PutCrashSite(text, exception);
    return text.Finish();
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
