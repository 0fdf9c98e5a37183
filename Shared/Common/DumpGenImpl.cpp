#include "Common/DumpGenImpl.h"

#include <cstdio>
#include <cwctype>
#include <optional>

#include "Common/ProductInfo.h"
#include "Common/RegistryValues.h"
#include "ResKit/Logger/LogUtils.h"

using namespace Qx;
using namespace Qx::Platform;

namespace {

// The records carry fixed line numbers, so the dump path reads the same whatever this file becomes.
constexpr int kLineCreateDumpInt = 162;
constexpr int kLineGeneratorResult = 187;
constexpr int kLineGeneratorLaunchFailed = 191;
constexpr int kLineMiniDump = 203;

// One conversion of a printf template.
struct Conversion {
    bool leftAlign = false;
    bool zeroPad = false;
    bool alternate = false;
    std::size_t width = 0;
    std::wstring length; // "", "h", "l", "ll", "I32", "I64", "w"
    wchar_t type = 0;
};

// Parses the conversion after a '%' at position; advances position past it.
std::optional<Conversion> ParseConversion(const std::wstring& text, std::size_t& position)
{
    Conversion conversion;
    for (; position < text.size(); ++position) {
        const wchar_t c = text[position];
        if (c == L'-') {
            conversion.leftAlign = true;
        } else if (c == L'0') {
            conversion.zeroPad = true;
        } else if (c == L'#') {
            conversion.alternate = true;
        } else if (c != L'+' && c != L' ') {
            break;
        }
    }
    while (position < text.size() && std::iswdigit(static_cast<wint_t>(text[position]))) {
        conversion.width = conversion.width * 10 + static_cast<std::size_t>(text[position++] - L'0');
    }
    for (const wchar_t* length : {L"I64", L"I32", L"ll", L"l", L"h", L"w"}) {
        if (text.compare(position, std::wcslen(length), length) == 0) {
            conversion.length = length;
            position += conversion.length.size();
            break;
        }
    }
    if (position >= text.size()) {
        return std::nullopt;
    }
    conversion.type = text[position++];
    return conversion;
}

bool IsThirtyTwoBitInteger(const Conversion& c)
{
    return std::wcschr(L"udixX", c.type) != nullptr && (c.length.empty() || c.length == L"l" || c.length == L"I32");
}

bool IsWideString(const Conversion& c)
{
    return (c.type == L's' && (c.length.empty() || c.length == L"l" || c.length == L"w")) ||
           (c.type == L'S' && (c.length.empty() || c.length == L"w"));
}

bool IsPointer(const Conversion& c)
{
    return (c.type == L'p' && c.length.empty()) ||
           (std::wcschr(L"uxX", c.type) != nullptr && (c.length == L"ll" || c.length == L"I64"));
}

std::wstring Pad(std::wstring text, const Conversion& c, bool numeric)
{
    if (text.size() >= c.width) {
        return text;
    }
    const std::size_t fill = c.width - text.size();
    if (c.leftAlign) {
        return text + std::wstring(fill, L' ');
    }
    return std::wstring(fill, numeric && c.zeroPad ? L'0' : L' ') + text;
}

std::wstring FormatNumber(std::uint64_t value, const Conversion& c)
{
    wchar_t digits[32];
    const bool hex = c.type == L'x' || c.type == L'X';
    if (c.type == L'd' || c.type == L'i') {
        std::swprintf(digits, std::size(digits), L"%d", static_cast<int>(static_cast<std::uint32_t>(value)));
    } else {
        std::swprintf(digits, std::size(digits), hex ? (c.type == L'x' ? L"%llx" : L"%llX") : L"%llu",
                      static_cast<unsigned long long>(value));
    }
    std::wstring text = digits;
    if (hex && c.alternate && value != 0) {
        text.insert(0, c.type == L'x' ? L"0x" : L"0X");
    }
    return Pad(std::move(text), c, true);
}

void ReadUserDump(std::wstring& userDump)
{
    RegistryKey key;
    if (Registry().OpenKey(GetProductInfo().RegistryRoot(), kKeyRead, key) != kErrorSuccess) {
        return;
    }
    std::uint32_t type = kRegNone;
    std::uint32_t size = 0;
    if (Registry().QueryValue(key.get(), L"UserDump", &type, nullptr, &size) != kErrorSuccess || size == 0 ||
        type != kRegSz) {
        return;
    }
    std::wstring text;
    if (ReadTerminatedString(key.get(), L"UserDump", DumpGenImpl::kBufferCharacters, text) == kErrorSuccess) {
        userDump = text;
    }
}

} // namespace

std::int32_t ParseDumpType(const std::wstring& userDump)
{
    const std::size_t option = userDump.find(L"/m ");
    if (option == std::wstring::npos) {
        return 0;
    }
    std::size_t position = userDump.find(L' ', option);
    while (position < userDump.size() && (userDump[position] == L' ' || userDump[position] == L'\t')) {
        ++position;
    }
    std::int32_t dumpType = 0;
    while (position < userDump.size() && std::iswdigit(static_cast<wint_t>(userDump[position]))) {
        dumpType = dumpType * 10 + (userDump[position++] - L'0');
    }
    return dumpType;
}

bool FormatGeneratorCommandLine(const std::wstring& userDump, std::uint32_t processId, const std::wstring& dumpPath,
                                const void* exceptionPointers, std::uint32_t threadId, std::wstring& commandLine)
{
    std::wstring result;
    int argument = 0;
    for (std::size_t position = 0; position < userDump.size();) {
        const wchar_t c = userDump[position++];
        if (c != L'%') {
            result += c;
            continue;
        }
        if (position < userDump.size() && userDump[position] == L'%') {
            result += L'%';
            ++position;
            continue;
        }
        const auto conversion = ParseConversion(userDump, position);
        if (!conversion) {
            return false;
        }
        switch (++argument) {
        case 1:
        case 4:
            if (!IsThirtyTwoBitInteger(*conversion)) {
                return false;
            }
            result += FormatNumber(argument == 1 ? processId : threadId, *conversion);
            break;
        case 2:
            if (!IsWideString(*conversion)) {
                return false;
            }
            result += Pad(dumpPath, *conversion, false);
            break;
        case 3: {
            if (!IsPointer(*conversion)) {
                return false;
            }
            const auto address = static_cast<std::uint64_t>(reinterpret_cast<std::uintptr_t>(exceptionPointers));
            if (conversion->type == L'p') {
                wchar_t digits[20];
                std::swprintf(digits, std::size(digits), L"%016llX", static_cast<unsigned long long>(address));
                result += Pad(digits, *conversion, false);
            } else {
                result += FormatNumber(address, *conversion);
            }
            break;
        }
        default:
            return false;
        }
    }
    if (result.size() >= DumpGenImpl::kBufferCharacters) {
        return false;
    }
    commandLine = std::move(result);
    return true;
}

std::wstring DumpFileName(const std::wstring& baseName, std::uint32_t exceptionCode, const LocalTime& time)
{
    wchar_t suffix[64];
    std::swprintf(suffix, std::size(suffix), L"_%08X_%04d_%02d_%02d__%02d_%02d_%02d.dmp", exceptionCode, time.year,
                  time.month, time.day, time.hour, time.minute, time.second);
    return baseName + suffix;
}

DumpGenImpl::DumpGenImpl()
{
    std::wstring executable;
    (void)Process().ModuleFileName(nullptr, executable);
    const std::size_t backslash = executable.rfind(L'\\');
    const std::size_t nameStart = backslash == std::wstring::npos ? 0 : backslash + 1;
    const std::size_t dot = executable.rfind(L'.');
    m_baseName = executable.substr(nameStart,
                                   dot == std::wstring::npos || dot < nameStart ? std::wstring::npos : dot - nameStart);
    ReadUserDump(m_userDump);
    if (m_userDump.empty()) {
        return;
    }
    m_dumpType = ParseDumpType(m_userDump);
    m_generatorPath = executable.substr(0, nameStart) + m_userDump.substr(0, m_userDump.find(L' '));
}

DumpGenImpl& DumpGenImpl::Instance()
{
    // Never destroyed: a crash during process exit may still need it.
    static DumpGenImpl* instance = new DumpGenImpl();
    return *instance;
}

void DumpGenImpl::SetDumpBaseName(const std::wstring& name)
{
    std::lock_guard lock(m_lock);
    m_baseName = name.substr(0, kBufferCharacters - 1);
}

std::wstring DumpGenImpl::BaseName()
{
    std::lock_guard lock(m_lock);
    return m_baseName;
}

bool DumpGenImpl::CreateDump(const ExceptionDescription* exception)
{
    // The path is built under the lock, so two threads that crash in the same second still get
    // a file each.
    std::lock_guard lock(m_lock);
    return CreateDumpInt(NextDumpPath(exception != nullptr ? exception->code : 0), exception);
}

std::wstring DumpGenImpl::NextDumpPath(std::uint32_t exceptionCode)
{
    auto& dumps = Dumps();
    std::wstring path = dumps.TempPath() + DumpFileName(m_baseName, exceptionCode, dumps.Now());
    if (path == m_lastDumpPath) {
        ++m_samePathCount;
        return path.substr(0, path.size() - 4) + L"_" + std::to_wstring(m_samePathCount + 1) + L".dmp";
    }
    m_lastDumpPath = path;
    m_samePathCount = 0;
    return path;
}

bool DumpGenImpl::RunGenerator(const std::wstring& path, const ExceptionDescription* exception)
{
    std::wstring commandLine;
    if (!FormatGeneratorCommandLine(m_userDump, Process().CurrentProcessId(), path,
                                    exception != nullptr ? exception->nativePointers : nullptr,
                                    Process().CurrentThreadId(), commandLine)) {
        LogUtils::WriteRecordAt(1, LogUtils::kSeverityError, QX_SOURCE_FILE, __LINE__,
                                "DumpGen template refused: ", m_userDump);
        return false;
    }
    std::uint32_t exitCode = 0;
    const Win32Error launch = Dumps().RunProcess(m_generatorPath, commandLine, kGeneratorWaitMilliseconds, exitCode);
    if (launch != kErrorSuccess) {
        LogUtils::WriteRecordAt(3, LogUtils::kSeverityDbg, QX_SOURCE_FILE, kLineGeneratorLaunchFailed,
                                "DumpGen launch failed ", launch);
        return false;
    }
    LogUtils::WriteRecordAt(3, LogUtils::kSeverityDbg, QX_SOURCE_FILE, kLineGeneratorResult, "DumpGen result ",
                            exitCode);
    return exitCode == 0;
}

bool DumpGenImpl::CreateDumpInt(const std::wstring& path, const ExceptionDescription* exception)
{
    const LogUtils::TimedTraceScope scope(LogUtils::LogRecord::Build(1, "CreateDumpInt ", path), 1, QX_SOURCE_FILE,
                                          kLineCreateDumpInt);
    if (!m_userDump.empty() && RunGenerator(path, exception)) {
        return true;
    }
    bool fileCreated = false;
    const bool written =
        Dumps().WriteMiniDump(path, m_dumpType, exception != nullptr ? exception->nativePointers : nullptr,
                              Process().CurrentThreadId(), fileCreated);
    if (fileCreated) {
        LogUtils::WriteRecordAt(3, LogUtils::kSeverityDbg, QX_SOURCE_FILE, kLineMiniDump, "MinidumpWriteDump ",
                                written);
    }
    return written;
}
