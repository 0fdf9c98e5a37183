#include "Common/DumpGenImpl.h"

#include <algorithm>
#include <cwchar>

#include "Common/ConfigurationNames.h"
#include "Common/ProductInfo.h"
#include "Common/RegistryValues.h"
#include "Common/ServiceFileName.h"
#include "ResKit/Logger/FixedTextWriter.h"
#include "ResKit/Logger/LogUtils.h"

using namespace Qx;
using namespace Qx::Platform;

namespace {

// The records carry fixed line numbers, so the dump path reads the same whatever this file becomes.
constexpr int kLineCreateDumpInt = 162;
constexpr int kLineGeneratorResult = 187;
constexpr int kLineGeneratorLaunchFailed = 191;
constexpr int kLineMiniDump = 203;

using Piece = GeneratorTemplate::Piece;

// Unlike wcschr, never finds a NUL, which a template read from the registry may hold.
bool IsOneOf(wchar_t c, std::wstring_view set)
{
    return set.find(c) != std::wstring_view::npos;
}

bool IsBlank(wchar_t c)
{
    return c == L' ' || c == L'\t';
}

bool IsAsciiDigit(wchar_t c)
{
    return c >= L'0' && c <= L'9';
}

// The conversion after a '%' at position, without its argument kind; advances position past it.
// Widths, precisions and unknown length modifiers give nothing.
std::optional<Piece> ParseConversion(std::wstring_view text, std::size_t& position, std::wstring_view& length)
{
    Piece piece;
    for (; position < text.size() && IsOneOf(text[position], L"-+ #0"); ++position) {
        piece.alternate = piece.alternate || text[position] == L'#';
        piece.plusSign = piece.plusSign || text[position] == L'+';
        piece.spaceSign = piece.spaceSign || text[position] == L' ';
    }
    length = {};
    for (const std::wstring_view candidate : {L"I64", L"I32", L"ll", L"l", L"h", L"w"}) {
        if (text.substr(position).starts_with(candidate)) {
            length = candidate;
            position += candidate.size();
            break;
        }
    }
    if (position >= text.size()) {
        return std::nullopt;
    }
    piece.type = text[position++];
    return piece;
}

bool IsThirtyTwoBitInteger(wchar_t type, std::wstring_view length)
{
    return IsOneOf(type, L"udixX") && (length.empty() || length == L"l" || length == L"I32");
}

bool IsWideString(wchar_t type, std::wstring_view length)
{
    return (type == L's' && (length.empty() || length == L"l" || length == L"w")) ||
           (type == L'S' && (length.empty() || length == L"w"));
}

bool IsPointer(wchar_t type, std::wstring_view length)
{
    return (type == L'p' && length.empty()) || (IsOneOf(type, L"uxX") && (length == L"ll" || length == L"I64"));
}

// The argument kind the n-th conversion (counted from 1) must have, when its form fits it.
std::optional<Piece::Kind> ArgumentKind(int argument, wchar_t type, std::wstring_view length)
{
    switch (argument) {
    case 1:
    case 4:
        if (IsThirtyTwoBitInteger(type, length)) {
            return argument == 1 ? Piece::Kind::ProcessId : Piece::Kind::ThreadId;
        }
        return std::nullopt;
    case 2:
        return IsWideString(type, length) ? std::optional(Piece::Kind::DumpPath) : std::nullopt;
    case 3:
        return IsPointer(type, length) ? std::optional(Piece::Kind::ExceptionPointers) : std::nullopt;
    default:
        return std::nullopt;
    }
}

void PutInteger(FixedTextWriter& writer, const Piece& piece, std::uint64_t value)
{
    if (piece.type == L'd' || piece.type == L'i') {
        const auto signedValue = static_cast<std::int32_t>(static_cast<std::uint32_t>(value));
        if (signedValue < 0) {
            writer.Put(L'-');
        } else if (piece.plusSign || piece.spaceSign) {
            writer.Put(piece.plusSign ? L'+' : L' ');
        }
        writer.PutNumber(signedValue < 0 ? 0ULL - static_cast<std::uint64_t>(signedValue) : value, 10, false);
        return;
    }
    const bool hex = piece.type == L'x' || piece.type == L'X';
    if (hex && piece.alternate && value != 0) {
        writer.Put(piece.type == L'x' ? L"0x" : L"0X");
    }
    writer.PutNumber(value, hex ? 16 : 10, piece.type == L'X');
}

void PutPiece(FixedTextWriter& writer, std::wstring_view text, const Piece& piece, const GeneratorArguments& arguments)
{
    switch (piece.kind) {
    case Piece::Kind::Literal:
        writer.Put(text.substr(piece.start, piece.length));
        break;
    case Piece::Kind::ProcessId:
        PutInteger(writer, piece, arguments.processId);
        break;
    case Piece::Kind::ThreadId:
        PutInteger(writer, piece, arguments.threadId);
        break;
    case Piece::Kind::DumpPath:
        if (piece.quoted) {
            writer.Put(L'"');
        }
        writer.Put(std::wstring_view(arguments.dumpPath));
        if (piece.quoted) {
            writer.Put(L'"');
        }
        break;
    case Piece::Kind::ExceptionPointers: {
        const auto address = static_cast<std::uint64_t>(reinterpret_cast<std::uintptr_t>(arguments.exceptionPointers));
        if (piece.type == L'p') {
            writer.PutNumber(address, 16, true, 16);
        } else {
            PutInteger(writer, piece, address);
        }
        break;
    }
    }
}

// The whole value however long, so that an overlong template can be named when it is refused.
// False for a value that is there but no readable REG_SZ (another type, an odd size, no NUL at its
// end): userDump then describes it, in words no template check is asked to accept.
bool ReadUserDump(std::wstring& userDump)
{
    RegistryKey key;
    if (Registry().OpenKey(GetProductInfo().RegistryRoot(), kKeyRead, key) != kErrorSuccess) {
        return true;
    }
    std::uint32_t type = kRegNone;
    std::uint32_t size = 0;
    if (Registry().QueryValue(key.get(), ConfigurationNames::kUserDump, &type, nullptr, &size) != kErrorSuccess ||
        size == 0) {
        return true;
    }
    std::wstring text;
    if (type != kRegSz || size % sizeof(wchar_t) != 0 ||
        ReadTerminatedString(key.get(), ConfigurationNames::kUserDump, size / sizeof(wchar_t), text) != kErrorSuccess) {
        userDump = L"(no REG_SZ of whole characters ending in NUL: type " + std::to_wstring(type) + L")";
        return false;
    }
    userDump = text;
    return true;
}

// The generator runs from the host's folder only: its name there, no path, no device.
bool IsBareFileName(std::wstring_view name)
{
    return !name.empty() && name != L"." && name != L".." && std::ranges::none_of(name, IsRefusedInFileName) &&
           !IsDeviceFileName(name);
}

} // namespace

std::optional<std::int32_t> ParseDumpType(std::wstring_view userDump)
{
    const std::size_t option = userDump.find(L"/m ");
    if (option == std::wstring_view::npos) {
        return 0;
    }
    std::size_t position = userDump.find(L' ', option);
    while (position < userDump.size() && IsBlank(userDump[position])) {
        ++position;
    }
    if (position >= userDump.size() || !IsAsciiDigit(userDump[position])) {
        return std::nullopt;
    }
    std::int32_t dumpType = 0;
    for (; position < userDump.size() && IsAsciiDigit(userDump[position]); ++position) {
        // Checked before it grows, so that no number can overflow.
        if (dumpType > kKnownDumpTypeBits / 10) {
            return std::nullopt;
        }
        dumpType = dumpType * 10 + (userDump[position] - L'0');
    }
    if ((position < userDump.size() && !IsBlank(userDump[position])) || (dumpType & ~kKnownDumpTypeBits) != 0) {
        return std::nullopt;
    }
    return dumpType;
}

std::optional<GeneratorTemplate> GeneratorTemplate::Check(std::wstring_view userDump)
{
    const std::optional<std::int32_t> dumpType = ParseDumpType(userDump);
    if (userDump.size() > kMaxCharacters || !dumpType || !IsBareFileName(userDump.substr(0, userDump.find(L' ')))) {
        return std::nullopt;
    }
    GeneratorTemplate checked;
    checked.m_text = userDump;
    checked.m_dumpType = *dumpType;
    bool insideQuotes = false;
    int argument = 0;
    for (std::size_t position = 0; position < userDump.size();) {
        const wchar_t c = userDump[position++];
        if (c != L'%') {
            insideQuotes = insideQuotes != (c == L'"');
            checked.AddLiteral(position - 1);
            continue;
        }
        if (position < userDump.size() && userDump[position] == L'%') {
            checked.AddLiteral(position++);
            continue;
        }
        std::wstring_view length;
        std::optional<Piece> piece = ParseConversion(userDump, position, length);
        const std::optional<Piece::Kind> kind = piece ? ArgumentKind(++argument, piece->type, length) : std::nullopt;
        if (!kind) {
            return std::nullopt;
        }
        piece->kind = *kind;
        piece->quoted = *kind == Piece::Kind::DumpPath && !insideQuotes;
        checked.m_pieces.push_back(*piece);
    }
    return checked;
}

void GeneratorTemplate::AddLiteral(std::size_t position)
{
    if (!m_pieces.empty() && m_pieces.back().kind == Piece::Kind::Literal &&
        m_pieces.back().start + m_pieces.back().length == position) {
        ++m_pieces.back().length;
    } else {
        m_pieces.push_back({.start = position, .length = 1});
    }
}

bool GeneratorTemplate::Format(const GeneratorArguments& arguments, std::span<wchar_t> buffer) const
{
    FixedTextWriter writer(buffer);
    for (const Piece& piece : m_pieces) {
        PutPiece(writer, m_text, piece, arguments);
    }
    return writer.Finish();
}

std::wstring_view GeneratorTemplate::Program() const
{
    return std::wstring_view(m_text).substr(0, m_text.find(L' '));
}

bool FormatDumpFileName(std::wstring_view baseName, std::uint32_t exceptionCode, const LocalTime& time,
                        unsigned sequence, std::span<wchar_t> buffer)
{
    wchar_t suffix[64];
    FixedTextWriter suffixWriter(suffix);
    suffixWriter.Put(L'_');
    suffixWriter.PutNumber(exceptionCode, 16, true, 8);
    for (const int part : {time.year, time.month, time.day}) {
        suffixWriter.Put(L'_');
        suffixWriter.PutNumber(static_cast<std::uint32_t>(part), 10, false, part == time.year ? 4 : 2);
    }
    suffixWriter.Put(L'_');
    for (const int part : {time.hour, time.minute, time.second}) {
        suffixWriter.Put(L'_');
        suffixWriter.PutNumber(static_cast<std::uint32_t>(part), 10, false, 2);
    }
    if (sequence != 0) {
        suffixWriter.Put(L'_');
        suffixWriter.PutNumber(sequence, 10, false);
    }
    suffixWriter.Put(L".dmp");
    suffixWriter.Finish();
    const std::size_t suffixLength = std::wcslen(suffix);
    if (buffer.size() < suffixLength + 2 || baseName.empty()) {
        return false;
    }
    FixedTextWriter writer(buffer);
    writer.Put(baseName.substr(0, buffer.size() - 1 - suffixLength));
    writer.Put(std::wstring_view(suffix, suffixLength));
    return writer.Finish();
}

DumpGenImpl::DumpGenImpl()
{
    std::wstring executable;
    (void)Process().ModuleFileName(nullptr, executable);
    const std::size_t backslash = executable.rfind(L'\\');
    const std::size_t nameStart = backslash == std::wstring::npos ? 0 : backslash + 1;
    const std::size_t dot = executable.rfind(L'.');
    SetDumpBaseName(
        std::wstring_view(executable)
            .substr(nameStart, dot == std::wstring::npos || dot < nameStart ? std::wstring::npos : dot - nameStart));
    FixedTextWriter tempPath(m_tempPath);
    tempPath.Put(Dumps().TempPath());
    if (!tempPath.Finish()) {
        m_tempPath[0] = L'\0';
    }
    ReadGeneratorSettings(std::wstring_view(executable).substr(0, nameStart));
}

void DumpGenImpl::ReadGeneratorSettings(std::wstring_view executableFolder)
{
    if (!ReadUserDump(m_userDump) || m_userDump.empty()) {
        return;
    }
    m_generator = GeneratorTemplate::Check(m_userDump);
    if (!m_generator) {
        return;
    }
    FixedTextWriter generatorPath(m_generatorPath);
    generatorPath.Put(executableFolder);
    generatorPath.Put(m_generator->Program());
    if (!generatorPath.Finish()) {
        m_generator.reset();
        return;
    }
    m_dumpType = m_generator->DumpType();
}

DumpGenImpl& DumpGenImpl::Instance()
{
    // Never destroyed: a crash during process exit may still need it.
    static DumpGenImpl* instance = new DumpGenImpl();
    return *instance;
}

void DumpGenImpl::SetDumpBaseName(std::wstring_view name)
{
    std::lock_guard lock(m_lock);
    FixedTextWriter writer(m_baseName);
    for (const wchar_t c : ServiceFileName(name)) {
        writer.Put(c);
    }
    writer.Finish();
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
    BuildNextDumpPath(exception != nullptr ? exception->code : 0);
    return CreateDumpInt(exception);
}

void DumpGenImpl::BuildNextDumpPath(std::uint32_t exceptionCode)
{
    const std::size_t folderLength = std::wcslen(m_tempPath);
    std::copy_n(m_tempPath, folderLength, m_dumpPath);
    const std::span<wchar_t> name = std::span(m_dumpPath).subspan(folderLength);
    const LocalTime now = Dumps().Now();
    if (!FormatDumpFileName(m_baseName, exceptionCode, now, 0, name)) {
        m_dumpPath[0] = L'\0';
        return;
    }
    if (std::wcscmp(m_dumpPath, m_lastDumpPath) != 0) {
        std::copy_n(m_dumpPath, kBufferCharacters, m_lastDumpPath);
        m_samePathCount = 0;
        return;
    }
    ++m_samePathCount;
    (void)FormatDumpFileName(m_baseName, exceptionCode, now, m_samePathCount + 1, name);
}

bool DumpGenImpl::RunGenerator(const ExceptionDescription* exception)
{
    const GeneratorArguments arguments{Process().CurrentProcessId(), m_dumpPath,
                                       exception != nullptr ? exception->nativePointers : nullptr,
                                       Process().CurrentThreadId()};
    if (!m_generator || !m_generator->Format(arguments, m_commandLine)) {
        LogUtils::WriteRecordAt(1, LogUtils::kSeverityError, QX_SOURCE_FILE, __LINE__,
                                "DumpGen template refused: ", m_userDump);
        return false;
    }
    std::uint32_t exitCode = 0;
    const Win32Error launch = Dumps().RunProcess(m_generatorPath, m_commandLine, kGeneratorWaitMilliseconds, exitCode);
    if (launch != kErrorSuccess) {
        LogUtils::WriteRecordAt(3, LogUtils::kSeverityDbg, QX_SOURCE_FILE, kLineGeneratorLaunchFailed,
                                "DumpGen launch failed ", launch);
        return false;
    }
    LogUtils::WriteRecordAt(3, LogUtils::kSeverityDbg, QX_SOURCE_FILE, kLineGeneratorResult, "DumpGen result ",
                            exitCode);
    if (exitCode != 0) {
        return false;
    }
    // Whatever the generator says, a dump it did not write is written here.
    if (!Dumps().FileHasData(m_dumpPath)) {
        LogUtils::WriteRecordAt(1, LogUtils::kSeverityError, QX_SOURCE_FILE, __LINE__,
                                "DumpGen wrote no dump: ", static_cast<const wchar_t*>(m_dumpPath));
        return false;
    }
    return true;
}

bool DumpGenImpl::WriteInProcess(const ExceptionDescription* exception)
{
    bool fileCreated = false;
    const bool written =
        Dumps().WriteMiniDump(m_dumpPath, m_dumpType, exception != nullptr ? exception->nativePointers : nullptr,
                              Process().CurrentThreadId(), fileCreated);
    if (fileCreated) {
        LogUtils::WriteRecordAt(3, LogUtils::kSeverityDbg, QX_SOURCE_FILE, kLineMiniDump, "MinidumpWriteDump ",
                                written);
    }
    if (m_dumpPath[0] == L'\0') {
        m_lastFailure = L"the dump path does not fit its buffer";
    } else if (!fileCreated) {
        m_lastFailure = L"the dump file could not be created";
    } else if (!written) {
        m_lastFailure = L"MiniDumpWriteDump failed";
    }
    return written;
}

bool DumpGenImpl::CreateDumpInt(const ExceptionDescription* exception)
{
    std::optional<LogUtils::TimedTraceScope> scope;
    LogUtils::WithoutRaising([&] {
        if (LogUtils::IsLevelEnabled(1)) {
            scope.emplace(LogUtils::LogRecord::Build(1, "CreateDumpInt ", static_cast<const wchar_t*>(m_dumpPath)), 1,
                          QX_SOURCE_FILE, kLineCreateDumpInt);
        }
    });
    bool written = false;
    m_lastFailure = nullptr;
    // Whatever the generator step throws, the dump is still written in process.
    LogUtils::WithoutRaising([&] { written = !m_userDump.empty() && RunGenerator(exception); });
    if (!written) {
        written = WriteInProcess(exception);
    }
    if (!written && scope) {
        scope->Fail();
    }
    return written;
}

LogUtils::CrashDumpResult WriteCrashDump(const ExceptionDescription* exception)
{
    DumpGenImpl& dumps = DumpGenImpl::Instance();
    if (dumps.CreateDump(exception)) {
        return {dumps.DumpPath(), nullptr};
    }
    return {nullptr, dumps.LastFailure()};
}
