// The "UserDump" generator template: its dump type, its check, and the command line filled into
// buffers of every size up to the host's.
#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "Common/DumpGenImpl.h"
#include "FuzzInput.h"

using namespace Qx::Testing;

namespace {

constexpr std::array<const wchar_t*, 2> kDumpPaths = {
    L"C:\\users\\qx\\Temp\\QxDemo_C0000005_2026_12_07__09_05_03.dmp",
    L"C:\\Documents and Settings\\qx\\Temp\\QxDemo_00000000_2026_12_07__09_05_03_2.dmp"};
constexpr wchar_t kGuard = 0x5A5A;
constexpr std::size_t kGuardUnits = 8;

// The filled command line up to its NUL; empty when it does not fit.
std::wstring FormatInto(const GeneratorTemplate& checked, const GeneratorArguments& arguments, std::size_t capacity)
{
    std::vector<wchar_t> buffer(capacity + kGuardUnits, kGuard);
    const bool fitted = checked.Format(arguments, std::span(buffer.data(), capacity));
    Check(std::all_of(buffer.begin() + static_cast<std::ptrdiff_t>(capacity), buffer.end(),
                      [](wchar_t c) { return c == kGuard; }),
          "the command line stays inside its buffer");
    if (!fitted) {
        return {};
    }
    const auto end = std::find(buffer.begin(), buffer.begin() + static_cast<std::ptrdiff_t>(capacity), L'\0');
    Check(end != buffer.begin() + static_cast<std::ptrdiff_t>(capacity), "a fitted command line is terminated");
    return std::wstring(buffer.begin(), end);
}

void CheckTemplate(const std::wstring& userDump, const GeneratorArguments& arguments, std::size_t capacity)
{
    const std::optional<std::int32_t> dumpType = ParseDumpType(userDump);
    Check(!dumpType || (*dumpType & ~kKnownDumpTypeBits) == 0, "a dump type sets known bits only");
    Check(!dumpType || *dumpType == 0 || userDump.find(L"/m ") != std::wstring::npos, "a dump type needs /m");
    const std::optional<GeneratorTemplate> checked = GeneratorTemplate::Check(userDump);
    if (!checked) {
        return;
    }
    Check(userDump.size() <= GeneratorTemplate::kMaxCharacters, "an accepted template fits the command line");
    Check(dumpType && checked->DumpType() == *dumpType, "an accepted template has its dump type");
    Check(userDump.starts_with(checked->Program()) && checked->Program().find(L' ') == std::wstring_view::npos,
          "the program is the template's first word");
    const std::wstring whole = FormatInto(*checked, arguments, 4096);
    Check(!whole.empty() || userDump.empty(), "an accepted template always fits a large buffer");
    const std::wstring cut = FormatInto(*checked, arguments, capacity);
    Check(whole.size() < capacity ? cut == whole : cut.empty(), "a command line is written whole or not at all");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    FuzzInput input(data, size);
    GeneratorArguments arguments;
    arguments.processId = input.TakeInteger<std::uint32_t>();
    arguments.threadId = input.TakeInteger<std::uint32_t>();
    arguments.exceptionPointers = reinterpret_cast<const void*>(input.TakeInteger<std::uintptr_t>());
    arguments.dumpPath = kDumpPaths[input.TakeByte() % kDumpPaths.size()];
    const std::size_t capacity = input.TakeByte() + std::size_t{5};
    // The registry read ends a value at its first NUL.
    std::wstring userDump = input.TakeText();
    userDump.resize(std::min(userDump.size(), userDump.find(L'\0')));
    CheckTemplate(userDump, arguments, capacity);
    return 0;
}
