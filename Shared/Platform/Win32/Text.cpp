// Win32 only: text, languages, message tables, settings files and version resources.
#include "Platform/Win32/WindowsSupport.h"

#include <climits>
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
        if (!Version().query(m_data.data(), L"\\VarFileInfo\\Translation", reinterpret_cast<void**>(&entry), &bytes) ||
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
        if (!Version().query(m_data.data(), subBlock.c_str(), reinterpret_cast<void**>(&text), &characters)) {
            return false;
        }
        isNull = text == nullptr;
        value = isNull ? std::wstring() : std::wstring(text);
        return true;
    }

private:
    std::vector<BYTE> m_data;
};

} // namespace

Win32Error Win32Text::MapString(std::uint32_t locale, std::uint32_t flags, std::wstring_view source,
                                wchar_t* destination, int capacity, int& written)
{
    const int result =
        ::LCMapStringW(locale, flags, source.data(), static_cast<int>(source.size()), destination, capacity);
    if (result == 0) {
        return LastErrorOr(ERROR_INVALID_PARAMETER);
    }
    written = result;
    return ERROR_SUCCESS;
}

wchar_t Win32Text::CharUpper(wchar_t c)
{
    // CharUpperW maps through the invariant table, whatever the user's language; so does this,
    // without user32, which costs a process several megabytes and milliseconds to load.
    wchar_t upper = c;
    return ::LCMapStringW(LOCALE_INVARIANT, LCMAP_UPPERCASE, &c, 1, &upper, 1) == 1 ? upper : c;
}

Win32Error Win32Text::Utf8ToWide(std::string_view source, std::wstring& result)
{
    // The whole view, NULs included; each byte gives at most one UTF-16 unit, so the source's length
    // is room enough. MultiByteToWideChar refuses an empty source instead of converting it.
    if (source.size() > static_cast<std::size_t>(INT_MAX)) {
        return ERROR_INVALID_PARAMETER;
    }
    std::wstring converted(source.size(), L'\0');
    if (!source.empty()) {
        const int length = ::MultiByteToWideChar(CP_UTF8, 0, source.data(), static_cast<int>(source.size()),
                                                 converted.data(), static_cast<int>(converted.size()));
        if (length <= 0) {
            return LastErrorOr(ERROR_NO_UNICODE_TRANSLATION);
        }
        converted.resize(static_cast<std::size_t>(length));
    }
    result = std::move(converted);
    return ERROR_SUCCESS;
}

Win32Error Win32Text::FormatMessage(std::uint32_t sourceFlag, NativeHandle source, std::uint32_t messageId,
                                    std::uint32_t languageId, std::wstring& text)
{
    wchar_t* buffer = nullptr;
    const DWORD length = ::FormatMessageW(sourceFlag | FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_IGNORE_INSERTS,
                                          source, messageId, languageId, reinterpret_cast<LPWSTR>(&buffer), 0, nullptr);
    if (length == 0 || buffer == nullptr) {
        return LastErrorOr(ERROR_MR_MID_NOT_FOUND);
    }
    text.assign(buffer, length);
    ::LocalFree(buffer);
    return ERROR_SUCCESS;
}

Win32Error Win32Text::GetThreadPreferredUILanguages(std::uint32_t flags, std::vector<wchar_t>& list)
{
    ULONG count = 0;
    ULONG size = 0;
    if (!::GetThreadPreferredUILanguages(flags, &count, nullptr, &size)) {
        return LastErrorOr(ERROR_INVALID_PARAMETER);
    }
    std::vector<wchar_t> buffer(size);
    if (!::GetThreadPreferredUILanguages(flags, &count, buffer.data(), &size)) {
        return LastErrorOr(ERROR_INVALID_PARAMETER);
    }
    list = std::move(buffer);
    return ERROR_SUCCESS;
}

bool Win32Text::SetThreadPreferredUILanguages(std::uint32_t flags, const wchar_t* list)
{
    return ::SetThreadPreferredUILanguages(flags, list, nullptr) != FALSE;
}

std::uint16_t Win32Text::UserDefaultUILanguage()
{
    return ::GetUserDefaultUILanguage();
}

std::uint16_t Win32Text::SystemDefaultUILanguage()
{
    return ::GetSystemDefaultUILanguage();
}

bool Win32Text::HasConsoleWindow()
{
    return ::GetConsoleWindow() != nullptr;
}

bool Win32Text::FileExists(const std::wstring& path)
{
    return ::GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::wstring Win32Text::ReadProfileString(const std::wstring& file, const wchar_t* section, const wchar_t* key,
                                          const wchar_t* defaultValue, std::uint32_t capacity)
{
    std::vector<wchar_t> buffer(capacity);
    const DWORD length = ::GetPrivateProfileStringW(section, key, defaultValue, buffer.data(), capacity, file.c_str());
    return std::wstring(buffer.data(), length);
}

HRESULT Win32Text::ReadVersionInfo(const std::wstring& path, bool neutral, std::unique_ptr<IVersionBlock>& block)
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
    if (!read) {
        return HResultFromWin32(LastErrorOr(ERROR_RESOURCE_DATA_NOT_FOUND));
    }
    block = std::make_unique<Win32VersionBlock>(std::move(data));
    return kSOk;
}

} // namespace Qx::Platform::Win32
