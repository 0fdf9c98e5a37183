// The "ServiceModules" list cut into library names.
#include <cstddef>
#include <cstdint>

#include "Common/ServiceHost/ServiceModuleManager.h"
#include "FuzzInput.h"

using namespace Qx::Testing;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::wstring moduleList = FuzzInput(data, size).TakeText();
    std::wstring joined;
    for (const auto& name : SplitModuleList(moduleList)) {
        Check(!name.empty(), "no name is empty");
        Check(name.find_first_of(L";,") == std::wstring::npos, "no name holds a separator");
        joined += name;
    }
    std::wstring withoutSeparators = moduleList;
    std::erase_if(withoutSeparators, [](wchar_t c) { return c == L';' || c == L','; });
    Check(joined == withoutSeparators, "the names are the list without its separators");
    return 0;
}
