#include "ResKit/Logger/LogUtils.h"

#include <atomic>
#include <cstdio>
#include <exception>
#include <mutex>
#include <new>
#include <stdexcept>
#include <utility>

#include "Platform/Api/ProcessWide.h"
#include "ResKit/Logger/ExceptionHandlers.h"

using namespace Qx;
using namespace Qx::Platform;

namespace LogUtils {

namespace {

constexpr int kTraceLevel = 2;
constexpr int kSpareAttributeIndex = 2;

std::atomic<IFileLoggerItf*> g_installedLogger{nullptr};
std::atomic<int> g_attributeCounter{0};
std::int32_t g_spareAttribute = 0;
std::atomic<ErrorDescriber> g_errorDescriber{nullptr};

// Number of live SModuleLogInit blocks; the last one to go removes the logger.
std::mutex g_moduleLogLock;
int g_moduleLogCount = 0; // guarded by g_moduleLogLock

// LoggerLibAPI_GetLogger of QxLogger.dll beside the executable, or null without the library.
// The library stays loaded for the life of the process: the logger's code lives in it.
LoggerLibGetLoggerFunction FindLoggerFactory()
{
    const std::wstring folder = ExecutableFolder();
    Library library;
    if (folder.empty() || Libraries().Load(folder + kLoggerLibraryFileName, library) != kErrorSuccess) {
        return nullptr;
    }
    auto* function =
        reinterpret_cast<LoggerLibGetLoggerFunction>(Libraries().GetProc(library.get(), kLoggerLibGetLoggerExport));
    if (function != nullptr) {
        (void)library.release();
    }
    return function;
}

LoggerLibGetLoggerFunction LoggerFactory()
{
    struct Factory {
        LoggerLibGetLoggerFunction function = FindLoggerFactory();
    };
    static ProcessWide<const Factory> factory([] { return std::make_unique<const Factory>(); });
    return factory.Get().function;
}

} // namespace

const wchar_t* SeverityName(int severity)
{
    static constexpr const wchar_t* kNames[] = {L"DBG", L"INFO", L"WARN", L"ERROR", L"FATAL"};
    return severity >= 0 && severity < 5 ? kNames[severity] : kNames[kSeverityDbg];
}

IFileLoggerItf& GetLogger()
{
    IFileLoggerItf* logger = g_installedLogger.load(std::memory_order_acquire);
    return logger != nullptr ? *logger : DevNullLogger();
}

bool InstallLogger(IFileLoggerItf* logger)
{
    IFileLoggerItf* expected = nullptr;
    return g_installedLogger.compare_exchange_strong(expected, logger, std::memory_order_acq_rel);
}

IFileLoggerItf* ExchangeLogger(IFileLoggerItf* logger)
{
    return g_installedLogger.exchange(logger, std::memory_order_acq_rel);
}

void AcquireLogger()
{
    const auto factory = LoggerFactory();
    if (factory == nullptr) {
        return;
    }
    IFileLoggerItf* logger = factory(Process().HostInstance());
    if (logger != nullptr && !InstallLogger(logger)) {
        delete logger;
    }
}

int AllocRecordAttribute()
{
    const int index = g_attributeCounter.fetch_add(1);
    if (index >= kSpareAttributeIndex) {
        g_attributeCounter.fetch_sub(1);
        return kSpareAttributeIndex;
    }
    return index;
}

const RecordAttributeIndices& AttributeIndices()
{
    static const RecordAttributeIndices indices{AllocRecordAttribute(), AllocRecordAttribute()};
    return indices;
}

ILogSettings& CDevNullLogger::GetSettings()
{
    static EmptyLogSettings settings;
    return settings;
}

CDevNullLogger& DevNullLogger()
{
    static CDevNullLogger logger;
    return logger;
}

LogRecord::LogRecord(int level) : m_level(level)
{
    m_attributes[static_cast<std::size_t>(AttributeIndices().severity)] = level == 1 ? kSeverityInfo : kSeverityDbg;
    try {
        m_text.reserve(kReservedCharacters);
    } catch (const std::bad_alloc&) {
        RaiseIfFailed(kEOutOfMemory);
    }
}

void LogRecord::SetSeverity(int severity)
{
    if (severity >= 0) {
        m_attributes[static_cast<std::size_t>(AttributeIndices().severity)] = severity;
    }
}

int LogRecord::Attribute(int index) const
{
    return index >= 0 && index < kSpareAttributeIndex ? m_attributes[static_cast<std::size_t>(index)]
                                                      : g_spareAttribute;
}

void LogRecord::AppendText(std::wstring_view text)
{
    try {
        m_text.append(text);
    } catch (const std::bad_alloc&) {
        RaiseIfFailed(kEOutOfMemory);
    } catch (const std::length_error&) {
        RaiseIfFailed(kEInvalidArg);
    }
}

LogRecord& LogRecord::operator<<(const wchar_t* text)
{
    AppendText(text != nullptr ? std::wstring_view(text) : std::wstring_view(L"<NULL>"));
    return *this;
}

LogRecord& LogRecord::operator<<(const std::wstring& text)
{
    AppendText(text);
    return *this;
}

LogRecord& LogRecord::operator<<(std::wstring_view text)
{
    AppendText(text);
    return *this;
}

LogRecord& LogRecord::operator<<(const char* text)
{
    if (text == nullptr) {
        return *this << static_cast<const wchar_t*>(nullptr);
    }
    return *this << std::string(text);
}

LogRecord& LogRecord::operator<<(const std::string& text)
{
    std::wstring wide;
    if (Qx::Platform::Text().Utf8ToWide(text, wide) != kErrorSuccess) {
        RaiseLastError();
    }
    AppendText(wide);
    return *this;
}

LogRecord& LogRecord::operator<<(int value)
{
    AppendText(std::to_wstring(value));
    return *this;
}

LogRecord& LogRecord::operator<<(unsigned value)
{
    AppendText(std::to_wstring(value));
    return *this;
}

LogRecord& LogRecord::operator<<(long value)
{
    AppendText(std::to_wstring(value));
    return *this;
}

LogRecord& LogRecord::operator<<(unsigned long value)
{
    AppendText(std::to_wstring(value));
    return *this;
}

LogRecord& LogRecord::operator<<(long long value)
{
    AppendText(std::to_wstring(value));
    return *this;
}

LogRecord& LogRecord::operator<<(unsigned long long value)
{
    AppendText(std::to_wstring(value));
    return *this;
}

LogRecord& LogRecord::operator<<(const void* pointer)
{
    AppendText(FormatPointer(pointer));
    return *this;
}

LogRecord& LogRecord::operator<<(bool value)
{
    AppendText(value ? L"true" : L"false");
    return *this;
}

LogRecord& LogRecord::operator<<(const HRXEx& error)
{
    AppendText(ExceptionText(error));
    return *this;
}

void LogRecord::Write(const wchar_t* sourceFile, int line) const
{
    const int severity = m_attributes[static_cast<std::size_t>(AttributeIndices().severity)];
    (void)GetLogger().Write(sourceFile, line, m_text.c_str(), m_level, SeverityName(severity));
}

std::wstring FormatPointer(const void* pointer)
{
    wchar_t buffer[20];
    std::swprintf(buffer, std::size(buffer), L"0x%016llX",
                  static_cast<unsigned long long>(reinterpret_cast<std::uintptr_t>(pointer)));
    return buffer;
}

ErrorDescriber InstallErrorDescriber(ErrorDescriber describe)
{
    return g_errorDescriber.exchange(describe);
}

std::wstring ExceptionText(const HRXEx& error)
{
    const ErrorDescriber describe = g_errorDescriber.load();
    std::wstring text = describe != nullptr ? describe(error.Result(), error.ErrorInfo()) : kUndescribedError;
    text += kDiagnosticSeparator;
    text += L"[EIP: ";
    bool anyAddress = false;
    for (void* address : error.Addresses()) {
        if (address == nullptr) {
            break;
        }
        text += FormatPointer(address);
        text += L',';
        anyAddress = true;
    }
    if (anyAddress) {
        text.back() = L']';
    } else {
        text += L']';
    }
    wchar_t code[16];
    std::swprintf(code, std::size(code), L" 0x%X", static_cast<unsigned>(error.Result()));
    text += code;
    return text;
}

SModuleLogInit::SModuleLogInit(const std::wstring& logName)
{
    hostInstance = Process().HostInstance();
    {
        std::lock_guard lock(g_moduleLogLock);
        ++g_moduleLogCount;
    }
    try {
        AcquireLogger();
        IFileLoggerItf* logger = g_installedLogger.load(std::memory_order_acquire);
        if (logger != nullptr) {
            (void)logger->Init(logName.c_str(), L"Module log", true, this);
        }
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
        delete previous;
    }
}

FunctionTraceScope::FunctionTraceScope(const wchar_t* name, const wchar_t* sourceFile, int line)
    : m_name(name), m_sourceFile(sourceFile), m_line(line)
{
    if (GetLogger().IsEnabled(kTraceLevel)) {
        LogRecord record(kTraceLevel);
        record << "Entering " << m_name;
        record.Write(m_sourceFile, m_line);
    }
    if (GetLogger().IsEnabled(kTraceLevel)) {
        GetLogger().ChangeIndent(+1);
        ++m_indent;
    }
}

FunctionTraceScope::~FunctionTraceScope()
{
    if (m_indent != 0) {
        GetLogger().ChangeIndent(-m_indent);
        m_indent = 0;
    }
    const bool unwinding = std::uncaught_exceptions() != 0;
    WithoutRaising([&] {
        if (GetLogger().IsEnabled(kTraceLevel)) {
            LogRecord record(kTraceLevel);
            record << (unwinding ? "*** EXCEPTION Exiting " : "Exiting ") << m_name;
            record.Write(m_sourceFile, m_line);
        }
    });
}

TimedTraceScope::TimedTraceScope(const LogRecord& name, int level, const wchar_t* sourceFile, int line)
    : m_name(name.Text()), m_level(level), m_severity(name.Attribute(AttributeIndices().second)),
      m_sourceFile(sourceFile), m_line(line), m_startTick(Process().TickCount64())
{
    if (GetLogger().IsEnabled(m_level)) {
        LogRecord record(m_level);
        record.SetSeverity(m_severity);
        record << m_name << L" - starting";
        record.Write(m_sourceFile, m_line);
    }
    m_unwindingAtStart = std::uncaught_exceptions() != 0;
    if (GetLogger().IsEnabled(kTraceLevel)) {
        GetLogger().ChangeIndent(+1);
        ++m_indent;
    }
}

TimedTraceScope::~TimedTraceScope()
{
    if (m_indent != 0) {
        GetLogger().ChangeIndent(-m_indent);
        m_indent = 0;
    }
    const bool endedByException = std::uncaught_exceptions() != 0 && !m_unwindingAtStart;
    const bool succeeded = !m_failed && !endedByException;
    WithoutRaising([&] {
        if (!GetLogger().IsEnabled(m_level)) {
            return;
        }
        LogRecord record(m_level);
        record.SetSeverity(m_severity);
        if (succeeded) {
            const unsigned long long elapsed = Process().TickCount64() - m_startTick;
            record << m_name << L" - succeeded (" << elapsed << L" ms)";
        } else if (endedByException) {
            record << "*** EXCEPTION: " << m_name << L" - failed";
        } else {
            record << m_name << L" - failed";
        }
        record.Write(m_sourceFile, m_line);
    });
}

} // namespace LogUtils
