// Typed string reads of the registry: the value's raw data and type and the reader's capacity
// come from the input.
#include <cstddef>
#include <cstdint>

#include "Common/RegistryValues.h"
#include "FakePlatform.h"
#include "FuzzInput.h"

using namespace Qx::Testing;
using namespace Qx::Platform;

namespace {

constexpr const wchar_t* kKeyPath = L"SOFTWARE\\Qx";
constexpr const wchar_t* kValueName = L"Value";
const std::wstring kUntouched = L"untouched \u2603";

bool IsStringType(std::uint32_t type)
{
    return type == kRegSz || type == kRegExpandSz;
}

// What a read must give: a terminated string value whose units fit the capacity.
bool ReadMustSucceed(std::uint32_t type, const std::vector<std::uint8_t>& bytes, std::size_t capacity)
{
    if (!IsStringType(type) || bytes.size() % 2 != 0 || bytes.size() / 2 > capacity) {
        return false;
    }
    return bytes.empty() || (bytes[bytes.size() - 2] == 0 && bytes.back() == 0);
}

void CheckRead(NativeHandle key, std::uint32_t type, const std::vector<std::uint8_t>& bytes, std::size_t capacity)
{
    std::wstring value = kUntouched;
    const Qx::Win32Error error = ReadTerminatedString(key, kValueName, capacity, value);
    if (!ReadMustSucceed(type, bytes, capacity)) {
        Check(error == Qx::kErrorMoreData || error == kErrorInvalidData, "a refused value fails as documented");
        Check(value == kUntouched, "a failed read leaves the output untouched");
        return;
    }
    Check(error == Qx::kErrorSuccess, "a terminated string that fits is read");
    Check(value.empty() || value.size() < capacity, "the string is shorter than the capacity");
    Check(value.find(L'\0') == std::wstring::npos, "the string holds no NUL");
    Check(value == UnitsUpToNul(bytes), "the string is the value's text up to its first NUL");
}

void CheckUnits(NativeHandle key, std::uint32_t type, const std::vector<std::uint8_t>& bytes)
{
    const std::size_t expected = IsStringType(type) ? bytes.size() / 2 : 0;
    Check(StringValueUnits(key, kValueName) == expected, "the units are those of a string value's data");
    Check(StringValueUnits(key, L"Missing") == 0, "a missing value has no units");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    Qx::Testing::FakePlatform platform;
    FuzzInput input(data, size);
    const std::uint32_t type = input.TakeRegistryType();
    const std::size_t capacity = input.TakeByte();
    const std::vector<std::uint8_t> bytes = input.TakeBytes();
    platform.registry.SetRaw(kKeyPath, kValueName, type, bytes);

    RegistryKey key;
    Check(Registry().OpenKey(kKeyPath, kKeyRead, key) == Qx::kErrorSuccess, "the key opens");
    CheckUnits(key.get(), type, bytes);
    CheckRead(key.get(), type, bytes, capacity);
    return 0;
}
