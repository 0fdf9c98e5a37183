#include "ResKit/Logger/LogRecord.h"

#include <algorithm>
#include <cwchar>
#include <new>
#include <stdexcept>

#include "Platform/Api/Platform.h"
#include "ResKit/Logger/ErrorText.h"

using namespace Qx;
using namespace Qx::Platform;

namespace LogUtils {

namespace {

// What every record holds in the spare slot, which the host never sets.
constexpr std::int32_t kSpareAttribute = 0;

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
    return index >= 0 && index < kSpareAttributeIndex ? m_attributes[static_cast<std::size_t>(index)] : kSpareAttribute;
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

} // namespace LogUtils
