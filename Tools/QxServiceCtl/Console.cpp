#include "Console.h"

#include <windows.h>

#include <string>

#include "JsonObject.h"
#include "Win32Support/WideText.h"

namespace QxServiceCtl {

namespace {

void WriteLine(DWORD stream, std::wstring_view line)
{
    const std::string utf8 = Qx::Win32Support::ToUtf8(std::wstring(line) + L"\r\n");
    DWORD written = 0;
    WriteFile(GetStdHandle(stream), utf8.data(), static_cast<DWORD>(utf8.size()), &written, nullptr);
}

} // namespace

void Out(std::wstring_view line)
{
    WriteLine(STD_OUTPUT_HANDLE, line);
}

void Err(std::wstring_view line)
{
    WriteLine(STD_ERROR_HANDLE, line);
}

int Fail(std::wstring_view command, std::wstring_view text)
{
    Err(L"QxServiceCtl " + std::wstring(command) + L": " + std::wstring(text));
    return kExitFailure;
}

int Fail(std::wstring_view command, std::wstring_view text, const JsonFailure& json)
{
    Fail(command, text);
    if (json.wanted) {
        JsonObject object;
        object.String(L"service", std::wstring(json.service));
        object.String(L"error", std::wstring(text));
        object.Number(L"status", json.exitCode);
        object.Number(L"schemaVersion", kJsonSchemaVersion);
        Out(object.Text());
    }
    return json.exitCode;
}

} // namespace QxServiceCtl
