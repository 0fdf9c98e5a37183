#include "Common/GeneratorTemplate.h"

#include <algorithm>

#include "Common/ServiceFileName.h"
#include "ResKit/Logger/FixedTextWriter.h"

using namespace Qx;

namespace {

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
