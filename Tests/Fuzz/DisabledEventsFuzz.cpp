// "DisabledEvents" read from the registry and parsed into event identifiers: the value's raw
// data and type come from the input.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "Common/audit/EventReporters.h"
#include "FakePlatform.h"
#include "FuzzInput.h"

using namespace Qx::Testing;

namespace {

constexpr const wchar_t* kRegistryRoot = L"SOFTWARE\\Qx";

void CheckList(const std::wstring& text, const DisabledEventList& list)
{
    const std::size_t colon = text.find(L':');
    if (colon == std::wstring::npos) {
        Check(list.prefix.empty() && list.ids.empty(), "a text without ':' disables nothing");
        return;
    }
    Check(list.prefix == text.substr(0, colon), "the prefix is the text before the first ':'");
    const auto pieces = static_cast<std::size_t>(std::ranges::count(std::wstring_view(text).substr(colon), L',')) + 1;
    Check(list.ids.size() <= pieces, "at most one identifier per piece");
    Check(!list.ids.contains(0), "0 is never an identifier");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    Qx::Testing::FakePlatform platform;
    FuzzInput input(data, size);
    const std::uint32_t type = input.TakeRegistryType();
    const std::vector<std::uint8_t> bytes = input.TakeBytes();
    platform.registry.SetRaw(kRegistryRoot, L"DisabledEvents", type, bytes);

    DisabledEventList list{L"stale", {7}};
    ReadDisabledEvents(kRegistryRoot, list);
    CheckList(type == Qx::Platform::kRegSz ? UnitsUpToNul(bytes) : std::wstring(), list);
    return 0;
}
