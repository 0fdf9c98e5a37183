#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "CaseInsensitiveLess.h"
#include "Platform/Api/Platform.h"

namespace Qx::Testing {

class FakeVersionBlock final : public Platform::IVersionBlock {
public:
    std::optional<std::pair<std::uint16_t, std::uint16_t>> translation;
    // Sub-block to value; std::nullopt stands for a query that succeeds with a null value.
    std::map<std::wstring, std::optional<std::wstring>, CaseInsensitiveLess> strings;

    bool Translation(std::uint16_t& language, std::uint16_t& codePage) const override;
    bool QueryString(const std::wstring& subBlock, std::wstring& value, bool& isNull) const override;
};

// Settings files as a table of values, and version resources by path.
class FakeFiles final : public Platform::IFiles {
public:
    std::map<std::wstring, std::wstring, CaseInsensitiveLess> profileValues; // "file|section|key"
    int profileReads = 0;
    std::map<std::wstring, FakeVersionBlock, CaseInsensitiveLess> versionBlocks;
    HRESULT versionFailure = kSOk;
    std::vector<bool> versionNeutralRequests;

    bool FileExists(const std::wstring& path) override;
    std::wstring ReadProfileString(const std::wstring& file, const wchar_t* section, const wchar_t* key,
                                   const wchar_t* defaultValue, std::uint32_t capacity) override;
    HRESULT ReadVersionInfo(const std::wstring& path, bool neutral,
                            std::unique_ptr<Platform::IVersionBlock>& block) override;
};

} // namespace Qx::Testing
