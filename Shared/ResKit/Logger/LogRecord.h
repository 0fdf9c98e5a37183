// One log statement's text, built from parts and handed to the installed logger.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

#include "ResKit/Logger/HRXEx.h"
#include "ResKit/Logger/InstalledLogger.h"

namespace LogUtils {

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

} // namespace LogUtils
