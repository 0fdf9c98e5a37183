// "EventSource" read from the registry and cleaned of the product name and surrounding
// whitespace: the value's raw data and type come from the input.
#include <cstddef>
#include <cstdint>
#include <cwctype>

#include "Common/audit/EventReporters.h"
#include "FakePlatform.h"
#include "FuzzInput.h"

using namespace Qx::Testing;

namespace {

constexpr const wchar_t* kRegistryRoot = L"SOFTWARE\\Qx";
constexpr std::size_t kEventSourceCapacity = 260;

bool IsSpace(wchar_t c)
{
    return std::iswspace(static_cast<wint_t>(c)) != 0;
}

void CheckName(HRESULT result, const std::wstring& name)
{
    if (Qx::Failed(result)) {
        Check(name.empty(), "a failed read leaves no name");
        Check(result == Qx::kEFail || result == Qx::HResultFromWin32(Qx::kErrorMoreData),
              "a read fails for a value too long or a name left empty");
        return;
    }
    Check(result == Qx::kSOk, "success is S_OK");
    Check(!name.empty(), "a name is never empty");
    Check(name.size() <= kEventSourceCapacity, "a name fits the buffer it was read into");
    Check(name.find(L'\0') == std::wstring::npos, "a name holds no NUL");
    Check(!IsSpace(name.front()) && !IsSpace(name.back()), "a name is trimmed");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    Qx::Testing::FakePlatform platform;
    FuzzInput input(data, size);
    const std::uint32_t type = input.TakeRegistryType();
    platform.registry.SetRaw(kRegistryRoot, L"EventSource", type, input.TakeBytes());

    std::wstring name = L"stale";
    const HRESULT result = ReadEventSourceName(kRegistryRoot, name);
    CheckName(result, name);
    return 0;
}
