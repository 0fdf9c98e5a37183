#include "ResKit/Logger/LogUtils.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cwchar>
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

constexpr int kSpareAttributeIndex = 2;

std::atomic<IFileLoggerItf*> g_installedLogger{nullptr};
// The mask words of a logger that enables nothing and of one that publishes no word of its own.
constinit LoggerLevelMask g_noLevels{0};
constinit LoggerLevelMask g_askForEveryLevel{0xFFFFFFFFu};
// Serialises the changes of the installed logger with its mask word; readers take neither lock.
std::mutex g_loggerChangeLock;
std::atomic<int> g_attributeCounter{0};
std::int32_t g_spareAttribute = 0;
std::atomic<ErrorDescriber> g_errorDescriber{nullptr};

// Number of live SModuleLogInit blocks; the last one to go removes the logger.
std::mutex g_moduleLogLock;
int g_moduleLogCount = 0; // guarded by g_moduleLogLock

struct LoggerLibraryExports {
    LoggerLibGetLoggerFunction getLogger = nullptr;
    LoggerLibGetLevelMaskFunction getLevelMask = nullptr; // optional
};

// The exports of QxLogger.dll beside the executable; none without the library. The library stays
// loaded for the life of the process: the logger's code lives in it.
LoggerLibraryExports FindLoggerLibraryExports()
{
    const std::wstring folder = ExecutableFolder();
    Library library;
    if (folder.empty() || Libraries().Load(folder + kLoggerLibraryFileName, library) != kErrorSuccess) {
        return {};
    }
    LoggerLibraryExports exports;
    exports.getLogger =
        reinterpret_cast<LoggerLibGetLoggerFunction>(Libraries().GetProc(library.get(), kLoggerLibGetLoggerExport));
    if (exports.getLogger == nullptr) {
        return {};
    }
    exports.getLevelMask = reinterpret_cast<LoggerLibGetLevelMaskFunction>(
        Libraries().GetProc(library.get(), kLoggerLibGetLevelMaskExport));
    (void)library.release();
    return exports;
}

const LoggerLibraryExports& LoggerLibrary()
{
    static ProcessWide<const LoggerLibraryExports> exports(
        [] { return std::make_unique<const LoggerLibraryExports>(FindLoggerLibraryExports()); });
    return exports.Get();
}

const LoggerLevelMask* MaskWordOf(const IFileLoggerItf* logger, const LoggerLevelMask* published)
{
    if (logger == nullptr || logger == &DevNullLogger()) {
        return &g_noLevels;
    }
    return published != nullptr ? published : &g_askForEveryLevel;
}

constexpr wchar_t kHexDigits[] = L"0123456789ABCDEF";
constexpr std::size_t kPointerCharacters = 18;

// "0x" and sixteen upper-case hexadecimal digits into out.
void WritePointer(const void* pointer, wchar_t* out)
{
    auto value = static_cast<unsigned long long>(reinterpret_cast<std::uintptr_t>(pointer));
    out[0] = L'0';
    out[1] = L'x';
    for (std::size_t digit = kPointerCharacters; digit > 2; --digit) {
        out[digit - 1] = kHexDigits[value & 0xFu];
        value >>= 4u;
    }
}

} // namespace

namespace Detail {
constinit std::atomic<const LoggerLevelMask*> g_levelMask{&g_noLevels};
} // namespace Detail

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

// The mask word follows the logger: a reader that sees the new word finds the new logger too.
bool InstallLogger(IFileLoggerItf* logger, const LoggerLevelMask* levelMask)
{
    const std::lock_guard lock(g_loggerChangeLock);
    IFileLoggerItf* expected = nullptr;
    if (!g_installedLogger.compare_exchange_strong(expected, logger, std::memory_order_acq_rel)) {
        return false;
    }
    Detail::g_levelMask.store(MaskWordOf(logger, levelMask), std::memory_order_release);
    return true;
}

IFileLoggerItf* ExchangeLogger(IFileLoggerItf* logger, const LoggerLevelMask* levelMask)
{
    const std::lock_guard lock(g_loggerChangeLock);
    IFileLoggerItf* previous = g_installedLogger.exchange(logger, std::memory_order_acq_rel);
    Detail::g_levelMask.store(MaskWordOf(logger, levelMask), std::memory_order_release);
    return previous;
}

void AcquireLogger()
{
    const LoggerLibraryExports& library = LoggerLibrary();
    if (library.getLogger == nullptr) {
        return;
    }
    IFileLoggerItf* logger = library.getLogger(Process().HostInstance());
    if (logger == nullptr) {
        return;
    }
    const LoggerLevelMask* levelMask = library.getLevelMask != nullptr ? library.getLevelMask(logger) : nullptr;
    if (!InstallLogger(logger, levelMask)) {
        DestroyInterfaceObject(logger);
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
    m_inline[0] = L'\0';
}

// Copies only the characters in use; the rest of the inline buffer holds nothing.
LogRecord::LogRecord(const LogRecord& other)
    : m_level(other.m_level), m_attributes(other.m_attributes), m_length(other.m_length), m_spilled(other.m_spilled)
{
    if (m_spilled.empty()) {
        std::wmemcpy(m_inline.data(), other.m_inline.data(), m_length + 1);
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

wchar_t* LogRecord::Extend(std::size_t count)
{
    if (m_spilled.empty() && count <= kReservedCharacters - m_length) {
        wchar_t* end = m_inline.data() + m_length;
        m_length += count;
        m_inline[m_length] = L'\0';
        return end;
    }
    try {
        if (m_spilled.empty()) {
            m_spilled.reserve(std::max(2 * kReservedCharacters, m_length + count));
            m_spilled.assign(m_inline.data(), m_length);
        }
        m_spilled.resize(m_length + count);
    } catch (const std::bad_alloc&) {
        RaiseIfFailed(kEOutOfMemory);
    } catch (const std::length_error&) {
        RaiseIfFailed(kEInvalidArg);
    }
    wchar_t* end = m_spilled.data() + m_length;
    m_length += count;
    return end;
}

void LogRecord::AppendText(std::wstring_view text)
{
    if (!text.empty()) {
        std::wmemcpy(Extend(text.size()), text.data(), text.size());
    }
}

// ASCII, by far the most common narrow text, widens unit by unit exactly as the UTF-8 conversion
// would; anything else goes through the conversion.
void LogRecord::AppendUtf8(std::string_view text)
{
    if (std::all_of(text.begin(), text.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80u; })) {
        wchar_t* out = Extend(text.size());
        for (const char c : text) {
            *out++ = static_cast<wchar_t>(c);
        }
        return;
    }
    std::wstring wide;
    if (Qx::Platform::Text().Utf8ToWide(text, wide) != kErrorSuccess) {
        RaiseLastError();
    }
    AppendText(wide);
}

void LogRecord::AppendDecimal(unsigned long long magnitude, bool negative)
{
    constexpr std::size_t kMaxCharacters = 21; // a sign and the 20 digits of 2^64 - 1
    wchar_t buffer[kMaxCharacters];
    wchar_t* const end = buffer + kMaxCharacters;
    wchar_t* first = end;
    do {
        *--first = static_cast<wchar_t>(L'0' + magnitude % 10u);
        magnitude /= 10u;
    } while (magnitude != 0);
    if (negative) {
        *--first = L'-';
    }
    AppendText(std::wstring_view(first, static_cast<std::size_t>(end - first)));
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
    AppendUtf8(text);
    return *this;
}

LogRecord& LogRecord::operator<<(const std::string& text)
{
    AppendUtf8(text);
    return *this;
}

LogRecord& LogRecord::operator<<(int value)
{
    return *this << static_cast<long long>(value);
}

LogRecord& LogRecord::operator<<(unsigned value)
{
    AppendDecimal(value, false);
    return *this;
}

LogRecord& LogRecord::operator<<(long value)
{
    return *this << static_cast<long long>(value);
}

LogRecord& LogRecord::operator<<(unsigned long value)
{
    AppendDecimal(value, false);
    return *this;
}

LogRecord& LogRecord::operator<<(long long value)
{
    // The magnitude in unsigned arithmetic, so that the most negative value has one too.
    const auto bits = static_cast<unsigned long long>(value);
    AppendDecimal(value < 0 ? 0ULL - bits : bits, value < 0);
    return *this;
}

LogRecord& LogRecord::operator<<(unsigned long long value)
{
    AppendDecimal(value, false);
    return *this;
}

LogRecord& LogRecord::operator<<(const void* pointer)
{
    WritePointer(pointer, Extend(kPointerCharacters));
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
    (void)GetLogger().Write(sourceFile, line, Data(), m_level, SeverityName(severity));
}

std::wstring FormatPointer(const void* pointer)
{
    std::wstring text(kPointerCharacters, L'\0');
    WritePointer(pointer, text.data());
    return text;
}

ErrorDescriber InstallErrorDescriber(ErrorDescriber describe)
{
    return g_errorDescriber.exchange(describe);
}

std::wstring ExceptionText(const HRXEx& error)
{
    if (const std::wstring* kept = error.KeptText()) {
        return *kept;
    }
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
    error.KeepText(text);
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
        DestroyInterfaceObject(previous);
    }
}

void FunctionTraceScope::Enter()
{
    if (IsLevelEnabled(kTraceLevel)) {
        LogRecord record(kTraceLevel);
        record << "Entering " << m_site->name;
        record.Write(m_site->sourceFile, m_site->line);
    }
    if (IsLevelEnabled(kTraceLevel)) {
        GetLogger().ChangeIndent(+1);
        ++m_indent;
    }
}

void FunctionTraceScope::Leave() noexcept
{
    if (m_indent != 0) {
        GetLogger().ChangeIndent(-m_indent);
        m_indent = 0;
    }
    const bool unwinding = std::uncaught_exceptions() != 0;
    WithoutRaising([&] {
        if (IsLevelEnabled(kTraceLevel)) {
            LogRecord record(kTraceLevel);
            record << (unwinding ? "*** EXCEPTION Exiting " : "Exiting ") << m_site->name;
            record.Write(m_site->sourceFile, m_site->line);
        }
    });
}

TimedTraceScope::TimedTraceScope(const LogRecord& name, int level, const wchar_t* sourceFile, int line)
    : m_name(name.Text()), m_level(level), m_severity(name.Attribute(AttributeIndices().second)),
      m_sourceFile(sourceFile), m_line(line), m_startTick(Process().TickCount64())
{
    if (IsLevelEnabled(m_level)) {
        LogRecord record(m_level);
        record.SetSeverity(m_severity);
        record << m_name << L" - starting";
        record.Write(m_sourceFile, m_line);
    }
    m_unwindingAtStart = std::uncaught_exceptions() != 0;
    if (IsLevelEnabled(kTraceLevel)) {
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
        if (!IsLevelEnabled(m_level)) {
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
