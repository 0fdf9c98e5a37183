// Files: whether one exists, the values of an ini file, and the version resource of a module.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "Platform/Api/HResult.h"

namespace Qx::Platform {

// A version resource read from a module file.
class IVersionBlock {
public:
    virtual ~IVersionBlock() = default;
    // The first entry of "\VarFileInfo\Translation": language in the low word, code page in the high.
    [[nodiscard]] virtual bool Translation(std::uint16_t& language, std::uint16_t& codePage) const = 0;
    // VerQueryValueW of a string: false when the query fails; a null value gives isNull.
    [[nodiscard]] virtual bool QueryString(const std::wstring& subBlock, std::wstring& value, bool& isNull) const = 0;
};

class IFiles {
public:
    virtual ~IFiles() = default;
    // GetFileAttributesW: whether a file or folder exists at path. Each profile read of a missing
    // file searches its folder again, so a reader of several values asks this first.
    virtual bool FileExists(const std::wstring& path) = 0;
    // GetPrivateProfileStringW into a buffer of capacity characters; values are cut to capacity - 1.
    virtual std::wstring ReadProfileString(const std::wstring& file, const wchar_t* section, const wchar_t* key,
                                           const wchar_t* defaultValue, std::uint32_t capacity) = 0;
    // Reads the version resource of a module file; neutral asks for the language-neutral one.
    [[nodiscard]] virtual HRESULT ReadVersionInfo(const std::wstring& path, bool neutral,
                                                  std::unique_ptr<IVersionBlock>& block) = 0;
};

} // namespace Qx::Platform
