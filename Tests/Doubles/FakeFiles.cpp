#include "FakeFiles.h"

namespace Qx::Testing {

using namespace Qx::Platform;

bool FakeVersionBlock::Translation(std::uint16_t& language, std::uint16_t& codePage) const
{
    if (!translation) {
        return false;
    }
    language = translation->first;
    codePage = translation->second;
    return true;
}

bool FakeVersionBlock::QueryString(const std::wstring& subBlock, std::wstring& value, bool& isNull) const
{
    const auto found = strings.find(subBlock);
    if (found == strings.end()) {
        return false;
    }
    isNull = !found->second.has_value();
    value = found->second.value_or(L"");
    return true;
}

// A settings file exists when it holds a value.
bool FakeFiles::FileExists(const std::wstring& path)
{
    const std::wstring prefix = path + L"|";
    const auto first = profileValues.lower_bound(prefix);
    return first != profileValues.end() && first->first.size() >= prefix.size() &&
           !CaseInsensitiveLess()(prefix, first->first.substr(0, prefix.size()));
}

std::wstring FakeFiles::ReadProfileString(const std::wstring& file, const wchar_t* section, const wchar_t* key,
                                          const wchar_t* defaultValue, std::uint32_t capacity)
{
    ++profileReads;
    const auto found = profileValues.find(file + L"|" + section + L"|" + key);
    std::wstring value = found != profileValues.end() ? found->second : std::wstring(defaultValue);
    if (value.size() >= capacity) {
        value.resize(capacity - 1);
    }
    return value;
}

HRESULT FakeFiles::ReadVersionInfo(const std::wstring& path, bool neutral, std::unique_ptr<IVersionBlock>& block)
{
    versionNeutralRequests.push_back(neutral);
    const auto found = versionBlocks.find(path);
    if (Failed(versionFailure) || found == versionBlocks.end()) {
        return Failed(versionFailure) ? versionFailure : HResultFromWin32(1812);
    }
    block = std::make_unique<FakeVersionBlock>(found->second);
    return kSOk;
}

} // namespace Qx::Testing
