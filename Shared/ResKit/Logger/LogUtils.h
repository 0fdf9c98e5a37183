// Logging: the installed logger, the module log initialiser, log records and trace scopes.
//
// A log statement names a level, optionally a severity, and text parts:
//     QX_LOG(1, "param value: ", value);
//     QX_LOG_ERROR("WinMain failed: ", error);
// When the installed logger does not enable the level, nothing is built or formatted. A logger
// that publishes its level mask (LoggerLibAPI_GetLevelMask) lets a disabled statement end after one
// inlined bit test; any other logger is asked through IsEnabled.
//
// Threads: any thread may log. The installed logger pointer changes only atomically; the
// logger itself accepts concurrent calls.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <string>
#include <string_view>

#include "Platform/Api/HResult.h"
#include "ResKit/Logger/HRXEx.h"
#include "ResKit/Logger/LoggerItf.h"

#define QX_WIDEN_(text) L##text
#define QX_WIDEN(text) QX_WIDEN_(text)
#define QX_SOURCE_FILE QX_WIDEN(__FILE__)

#define QX_LOG_AT(level, severity, ...)                                                                                \
    do {                                                                                                               \
        if (::LogUtils::IsLevelEnabled(level)) {                                                                       \
            ::LogUtils::LogRecord qxLogRecord_(level);                                                                 \
            qxLogRecord_.SetSeverity(severity);                                                                        \
            qxLogRecord_.Append(__VA_ARGS__);                                                                          \
            qxLogRecord_.Write(QX_SOURCE_FILE, __LINE__);                                                              \
        }                                                                                                              \
    } while (false)

#define QX_LOG(level, ...) QX_LOG_AT(level, ::LogUtils::kLevelSeverity, __VA_ARGS__)
#define QX_LOG_ERROR(...) QX_LOG_AT(1, ::LogUtils::kSeverityError, __VA_ARGS__)

// Traces entry and exit of the enclosing function under the given qualified name, a string literal, at
// level 2.
#define QX_FUNCTION_TRACE(name)                                                                                        \
    static constexpr ::LogUtils::TraceSite qxFunctionTraceSite_{name, QX_SOURCE_FILE, __LINE__};                       \
    ::LogUtils::FunctionTraceScope qxFunctionTrace_(qxFunctionTraceSite_)

// Times the enclosing block; the name is built from text parts like a log statement.
#define QX_TIMED_TRACE(level, ...)                                                                                     \
    ::LogUtils::TimedTraceScope qxTimedTrace_(::LogUtils::LogRecord::Build(level, __VA_ARGS__), level, QX_SOURCE_FILE, \
                                              __LINE__)

namespace LogUtils {

constexpr int kSeverityDbg = 0;
constexpr int kSeverityInfo = 1;
constexpr int kSeverityWarn = 2;
constexpr int kSeverityError = 3;
constexpr int kSeverityFatal = 4;
// Keeps the severity a record takes from its level: INFO at level 1, DBG at any other.
constexpr int kLevelSeverity = -1;
// Function traces and the indentation of every scope.
constexpr int kTraceLevel = 2;

const wchar_t* SeverityName(int severity);

// The installed logger, or the process-wide CDevNullLogger while none is installed.
IFileLoggerItf& GetLogger();

namespace Detail {
// The mask word of the installed logger: a word of no levels while none (or the CDevNullLogger) is
// installed, the logger's published word, or a word of every level for a logger that publishes
// none. It changes together with the installed logger.
extern std::atomic<const LoggerLevelMask*> g_levelMask;
} // namespace Detail

// False only when the installed logger surely does not enable level: its mask bit is clear. Levels
// outside 0 to 31 have no bit and may always be enabled.
inline bool LevelMayBeEnabled(int level) noexcept
{
    const auto bit = static_cast<unsigned>(level);
    if (bit >= 32u) {
        return true;
    }
    const std::uint32_t mask = Detail::g_levelMask.load(std::memory_order_acquire)->load(std::memory_order_relaxed);
    return ((mask >> bit) & 1u) != 0;
}

// The question every step of a statement asks: the mask first, and only when its bit is set the
// installed logger.
inline bool IsLevelEnabled(int level)
{
    return LevelMayBeEnabled(level) && GetLogger().IsEnabled(level);
}

// Installs logger unless one is installed already; returns false then, and the caller keeps
// ownership of logger. levelMask is the word the logger's library publishes for it, which must live
// as long as the logger; without one, the logger is asked about every level.
bool InstallLogger(IFileLoggerItf* logger, const LoggerLevelMask* levelMask = nullptr);

// Puts logger in place of the installed one, whatever that is, and returns the previous one. A null
// logger or the CDevNullLogger enables no level, whatever levelMask says.
IFileLoggerItf* ExchangeLogger(IFileLoggerItf* logger, const LoggerLevelMask* levelMask = nullptr);

// Asks the logger library for a logger and installs it; a surplus object is destroyed. Runs at
// start-up and again for every module log.
void AcquireLogger();

// Hands out record attribute indices: 0, 1, then always the shared spare slot 2.
int AllocRecordAttribute();

struct RecordAttributeIndices {
    int severity;
    int second; // never set by the host; timed trace scopes take their severity from it
};
// Allocated once, severity first, during start-up.
const RecordAttributeIndices& AttributeIndices();

// Process-wide objects: slot 0 leaves them alone.
class CDevNullLogger final : public IFileLoggerItf {
public:
    void* DeletingDestructor(unsigned int) noexcept override { return this; }
    HRESULT Init(const wchar_t*, const wchar_t*, bool, SModuleLogInit*) override { return Qx::kSOk; }
    void Reserved() override {}
    HRESULT Write(const wchar_t*, int, const wchar_t*, int, const wchar_t*) override { return Qx::kSOk; }
    void ChangeIndent(int) override {}
    bool IsEnabled(int) override { return false; }
    ILogSettings& GetSettings() override;
};

class EmptyLogSettings final : public ILogSettings {
public:
    void* DeletingDestructor(unsigned int) noexcept override { return this; }
    const wchar_t* Value1() const override { return L""; }
    const wchar_t* Value2() const override { return L""; }
    int Number1() const override { return 0; }
    int Number2() const override { return 0; }
};

CDevNullLogger& DevNullLogger();

// One statement's text while it is built. Texts up to kReservedCharacters stay within the record;
// only a longer one takes memory from the heap.
class LogRecord {
public:
    static constexpr std::size_t kReservedCharacters = 512;

    explicit LogRecord(int level);
    LogRecord(const LogRecord& other);
    LogRecord& operator=(const LogRecord&) = delete;
    ~LogRecord() = default;

    // A record that holds the given parts, for texts that are used as names.
    template <class... Parts>
    static LogRecord Build(int level, const Parts&... parts)
    {
        LogRecord record(level);
        record.Append(parts...);
        return record;
    }

    // Negative values keep the severity taken from the level.
    void SetSeverity(int severity);
    [[nodiscard]] int Attribute(int index) const;
    [[nodiscard]] std::wstring_view Text() const { return {Data(), m_length}; }

    template <class... Parts>
    void Append(const Parts&... parts)
    {
        (*this << ... << parts);
    }

    LogRecord& operator<<(const wchar_t* text);
    LogRecord& operator<<(const std::wstring& text);
    LogRecord& operator<<(std::wstring_view text);
    // Narrow texts are UTF-8.
    LogRecord& operator<<(const char* text);
    LogRecord& operator<<(const std::string& text);
    LogRecord& operator<<(int value);
    LogRecord& operator<<(unsigned value);
    LogRecord& operator<<(long value);
    LogRecord& operator<<(unsigned long value);
    LogRecord& operator<<(long long value);
    LogRecord& operator<<(unsigned long long value);
    LogRecord& operator<<(const void* pointer);
    LogRecord& operator<<(bool value);
    LogRecord& operator<<(const HRXEx& error);

    // Hands the record to the installed logger at the given source location.
    void Write(const wchar_t* sourceFile, int line) const;

private:
    [[nodiscard]] const wchar_t* Data() const { return m_spilled.empty() ? m_inline.data() : m_spilled.c_str(); }
    // Room for count more characters at the end of the text, which the caller fills.
    wchar_t* Extend(std::size_t count);
    void AppendText(std::wstring_view text);
    void AppendUtf8(std::string_view text);
    void AppendDecimal(unsigned long long magnitude, bool negative);

    int m_level;
    std::array<std::int32_t, 2> m_attributes{};
    std::size_t m_length = 0;
    // The text and its terminator while they fit; only the first m_length + 1 characters are set.
    std::array<wchar_t, kReservedCharacters + 1> m_inline;
    // The whole text once it has outgrown m_inline, empty before.
    std::wstring m_spilled;
};

// A statement with a fixed source location, for records whose place is part of their meaning.
template <class... Parts>
void WriteRecordAt(int level, int severity, const wchar_t* sourceFile, int line, const Parts&... parts)
{
    if (IsLevelEnabled(level)) {
        LogRecord record(level);
        record.SetSeverity(severity);
        record.Append(parts...);
        record.Write(sourceFile, line);
    }
}

// "0x" and sixteen upper-case hexadecimal digits, the same on every platform.
std::wstring FormatPointer(const void* pointer);

// Separates the readable part of an exception text from its diagnostic suffix.
inline constexpr wchar_t kDiagnosticSeparator = L'\x7F';

// Describes a failure in the product's UI language. The texts come from the message libraries,
// which the logging layer does not know; the start-up sequence installs the describer.
using ErrorDescriber = std::wstring (*)(HRESULT hr, const Qx::Platform::ErrorInfo& errorInfo);

// Text of an exception whose failure nobody can describe: no describer is installed.
inline constexpr const wchar_t* kUndescribedError = L"<Unknown error>";

// Installs describe for every exception text from now on (null removes it) and returns the
// previous one. Without one, the description is kUndescribedError and the thread's COM error
// information is left as it is.
ErrorDescriber InstallErrorDescriber(ErrorDescriber describe);

// The exception's log text: its description, U+007F, "[EIP: " addresses "]" and " 0x%X".
std::wstring ExceptionText(const HRXEx& error);

// The module log initialiser. Its storage is exactly the settings block handed to the logger.
// While at least one initialiser lives, the installed logger stays; the last one removes and
// destroys it, after which every statement is dropped.
struct SModuleLogInit : SModuleLogInitData {
    explicit SModuleLogInit(const std::wstring& logName);
    SModuleLogInit(const SModuleLogInit&) = delete;
    SModuleLogInit& operator=(const SModuleLogInit&) = delete;
    ~SModuleLogInit();
};
static_assert(sizeof(SModuleLogInit) == sizeof(SModuleLogInitData));

// The statement a function trace scope stands for, kept once per statement: a scope whose level is
// off then costs the store of one pointer besides its level tests.
struct TraceSite {
    const wchar_t* name;
    const wchar_t* sourceFile;
    int line;
};

// With level 2 off in the mask, entry and exit are one bit test each, inline.
class FunctionTraceScope {
public:
    explicit FunctionTraceScope(const TraceSite& site) : m_site(&site)
    {
        if (LevelMayBeEnabled(kTraceLevel)) {
            Enter();
        }
    }
    FunctionTraceScope(const FunctionTraceScope&) = delete;
    FunctionTraceScope& operator=(const FunctionTraceScope&) = delete;
    ~FunctionTraceScope()
    {
        if (m_indent != 0 || LevelMayBeEnabled(kTraceLevel)) {
            Leave();
        }
    }

private:
    void Enter();
    void Leave() noexcept;

    const TraceSite* m_site;
    int m_indent = 0;
};

// The one way to log and go on: runs action, typically the writing of a record, and drops
// whatever it throws. For records on paths that must not raise: scope ends, shut-down, crash
// handling, and failures that are reported but do not stop the service.
template <class Action>
void WithoutRaising(Action&& action) noexcept
{
    try {
        action();
    } catch (...) { // a record that cannot be built is dropped
    }
}

class TimedTraceScope {
public:
    TimedTraceScope(const LogRecord& name, int level, const wchar_t* sourceFile, int line);
    TimedTraceScope(const TimedTraceScope&) = delete;
    TimedTraceScope& operator=(const TimedTraceScope&) = delete;
    ~TimedTraceScope();

    // The operation failed without an exception: the scope ends with " - failed".
    void Fail() { m_failed = true; }

private:
    std::wstring m_name;
    int m_level;
    int m_severity;
    const wchar_t* m_sourceFile;
    int m_line;
    std::uint64_t m_startTick;
    int m_indent = 0;
    bool m_unwindingAtStart = false;
    bool m_failed = false;
};

} // namespace LogUtils
