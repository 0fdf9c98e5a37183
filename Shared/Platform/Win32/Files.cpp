// Win32 only: file existence, settings files and version resources.
#include "Platform/Win32/WindowsSupport.h"

#include <algorithm>
#include <vector>

namespace Qx::Platform::Win32 {

namespace {

// The version-resource functions. Current systems implement them in kernelbase, which every
// process has loaded, and version.dll only hands the calls on; a function kernelbase lacks comes
// from version.dll, loaded when a version resource is first read.
template <class Function>
Function VersionFunction(const char* name)
{
    if (const FARPROC function = ::GetProcAddress(::GetModuleHandleW(L"kernelbase.dll"), name)) {
        return reinterpret_cast<Function>(reinterpret_cast<void*>(function));
    }
    return SystemLibraryFunction<Function>(L"version.dll", name);
}

struct VersionFunctions {
    decltype(&::GetFileVersionInfoSizeW) size;
    decltype(&::GetFileVersionInfoW) read;
    decltype(&::GetFileVersionInfoSizeExW) sizeEx;
    decltype(&::GetFileVersionInfoExW) readEx;
    decltype(&::VerQueryValueW) query;

    [[nodiscard]] bool Loaded() const
    {
        return size != nullptr && read != nullptr && sizeEx != nullptr && readEx != nullptr && query != nullptr;
    }
};

const VersionFunctions& Version()
{
    static const VersionFunctions functions{
        VersionFunction<decltype(&::GetFileVersionInfoSizeW)>("GetFileVersionInfoSizeW"),
        VersionFunction<decltype(&::GetFileVersionInfoW)>("GetFileVersionInfoW"),
        VersionFunction<decltype(&::GetFileVersionInfoSizeExW)>("GetFileVersionInfoSizeExW"),
        VersionFunction<decltype(&::GetFileVersionInfoExW)>("GetFileVersionInfoExW"),
        VersionFunction<decltype(&::VerQueryValueW)>("VerQueryValueW")};
    return functions;
}

class Win32VersionBlock final : public IVersionBlock {
public:
    explicit Win32VersionBlock(std::vector<BYTE> data) : m_data(std::move(data)) {}

    bool Translation(std::uint16_t& language, std::uint16_t& codePage) const override
    {
        WORD* entry = nullptr;
        UINT bytes = 0;
        if ((Version().query(m_data.data(), L"\\VarFileInfo\\Translation", reinterpret_cast<void**>(&entry), &bytes) ==
             0) ||
            entry == nullptr || bytes < 2 * sizeof(WORD)) {
            return false;
        }
        language = entry[0];
        codePage = entry[1];
        return true;
    }

    bool QueryString(const std::wstring& subBlock, std::wstring& value, bool& isNull) const override
    {
        wchar_t* text = nullptr;
        UINT characters = 0;
        if (Version().query(m_data.data(), subBlock.c_str(), reinterpret_cast<void**>(&text), &characters) == 0) {
            return false;
        }
        isNull = text == nullptr;
        // The value's characters, however it is terminated.
        value = isNull ? std::wstring() : std::wstring(text, std::find(text, text + characters, L'\0'));
        return true;
    }

private:
    std::vector<BYTE> m_data;
};

} // namespace

bool Win32Files::FileExists(const std::wstring& path)
{
    return ::GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::wstring Win32Files::ReadProfileString(const std::wstring& file, const wchar_t* section, const wchar_t* key,
                                           const wchar_t* defaultValue, std::uint32_t capacity)
{
    std::vector<wchar_t> buffer(capacity);
    const DWORD length = ::GetPrivateProfileStringW(section, key, defaultValue, buffer.data(), capacity, file.c_str());
    return std::wstring(buffer.data(), length);
}

HRESULT Win32Files::ReadVersionInfo(const std::wstring& path, bool neutral, std::unique_ptr<IVersionBlock>& block)
{
    const VersionFunctions& version = Version();
    if (!version.Loaded()) {
        return HResultFromWin32(ERROR_MOD_NOT_FOUND);
    }
    DWORD handle = 0;
    const DWORD size =
        neutral ? version.sizeEx(FILE_VER_GET_NEUTRAL, path.c_str(), &handle) : version.size(path.c_str(), &handle);
    if (size == 0) {
        const DWORD error = ::GetLastError();
        return error != ERROR_SUCCESS ? HResultFromWin32(error) : kEFail;
    }
    std::vector<BYTE> data(size);
    const BOOL read = neutral ? version.readEx(FILE_VER_GET_NEUTRAL, path.c_str(), 0, size, data.data())
                              : version.read(path.c_str(), 0, size, data.data());
    if (read == 0) {
        return HResultFromWin32(LastErrorOr(ERROR_RESOURCE_DATA_NOT_FOUND));
    }
    block = std::make_unique<Win32VersionBlock>(std::move(data));
    return kSOk;
}

} // namespace Qx::Platform::Win32
