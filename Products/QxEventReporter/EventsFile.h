// The events files of the stand-in event libraries: one readable line per call, appended to a file
// in the folder "Logs" beside the process's executable. The format is described in README.md
// beside this file. Shared by QxEventReporter.dll and QxEventAgentClient.dll.
#pragma once

#include <windows.h>

#include <sddl.h>

#include <cstdio>
#include <string>
#include <string_view>

#include "Platform/Win32/UniqueWin32Handles.h"
#include "StandInSupport.h"

namespace QxEventsFile {

// Lines of several threads and processes never mix: each is one WriteFile through an append-only
// handle, made while holding this mutex. The handle alone is not enough under Wine 8, which appends
// at the end of the file as it last saw it and so overwrites lines appended meanwhile.
inline constexpr const wchar_t* kMutexName = L"Global\\QxEventLibrariesEventsFile";
inline constexpr DWORD kMutexWaitMs = 5000;

// The six event types of ReportEventW.
inline bool IsEventType(WORD type)
{
    return type == EVENTLOG_SUCCESS || type == EVENTLOG_ERROR_TYPE || type == EVENTLOG_WARNING_TYPE ||
           type == EVENTLOG_INFORMATION_TYPE || type == EVENTLOG_AUDIT_SUCCESS || type == EVENTLOG_AUDIT_FAILURE;
}

// Texts in UTF-8, with backslash, tab, carriage return and line feed escaped, so that a field never
// holds a separator and a line never breaks.
inline std::string Escaped(std::wstring_view text)
{
    std::string escaped;
    for (const char c : Qx::Win32Support::ToUtf8(text)) {
        switch (c) {
        case '\\':
            escaped += "\\\\";
            break;
        case '\t':
            escaped += "\\t";
            break;
        case '\r':
            escaped += "\\r";
            break;
        case '\n':
            escaped += "\\n";
            break;
        default:
            escaped += c;
        }
    }
    return escaped;
}

inline std::string Hex32(DWORD value)
{
    char text[16];
    std::snprintf(text, sizeof(text), "0x%08lX", value);
    return text;
}

// "S-1-5-18", or "-" without a SID.
inline std::string SidText(PSID sid)
{
    if (sid == nullptr) {
        return "-";
    }
    wchar_t* text = nullptr;
    if (!ConvertSidToStringSidW(sid, &text)) {
        return "?";
    }
    const std::string converted = Qx::Win32Support::ToUtf8(text);
    LocalFree(text);
    return converted;
}

// "\tstrings=<count>" and "\t%<n>=<text>" for each entry that is not null.
inline std::string StringFields(WORD count, const wchar_t** strings)
{
    std::string fields = "\tstrings=" + std::to_string(count);
    for (WORD i = 0; strings != nullptr && i < count; ++i) {
        if (strings[i] != nullptr) {
            fields += "\t%" + std::to_string(i + 1) + "=" + Escaped(strings[i]);
        }
    }
    return fields;
}

// The failure a test asks a call to answer with through a DWORD value under HKLM\<settingsKey>,
// S_OK when none. A service process reads it from the subkey named after its service instead, so
// that the tests of services running side by side never see each other's requests.
inline HRESULT RequestedFailure(const wchar_t* settingsKey, const wchar_t* valueName)
{
    std::wstring key = settingsKey;
    if (const std::wstring service = QxStandIn::ServiceNameOfProcess(); !service.empty()) {
        key += L"\\" + service;
    }
    DWORD value = 0;
    DWORD size = sizeof(value);
    if (RegGetValueW(HKEY_LOCAL_MACHINE, key.c_str(), valueName, RRF_RT_REG_DWORD, nullptr, &value, &size) !=
        ERROR_SUCCESS) {
        return S_OK;
    }
    const auto hr = static_cast<HRESULT>(value);
    return FAILED(hr) ? hr : S_OK;
}

// Appends "<local time>\t<pid>\t<call><fields>" and CR LF to Logs\<fileName>; the Win32 error of a
// failure, 0 on success.
inline DWORD AppendLine(const wchar_t* fileName, const char* call, const std::string& fields)
{
    const std::string line =
        QxStandIn::LocalTimeStamp() + "\t" + std::to_string(GetCurrentProcessId()) + "\t" + call + fields + "\r\n";

    std::wstring folder;
    if (const DWORD error = QxStandIn::CreateLogsDirectory(folder); error != ERROR_SUCCESS) {
        return error;
    }
    const Qx::Platform::UniqueKernelHandle mutex(CreateMutexW(nullptr, FALSE, kMutexName));
    if (!mutex) {
        return GetLastError();
    }
    const DWORD wait = WaitForSingleObject(mutex.get(), kMutexWaitMs);
    if (wait != WAIT_OBJECT_0 && wait != WAIT_ABANDONED) {
        return wait == WAIT_TIMEOUT ? ERROR_TIMEOUT : GetLastError();
    }
    DWORD error = ERROR_SUCCESS;
    {
        const Qx::Platform::UniqueKernelHandle file(CreateFileW((folder + fileName).c_str(), FILE_APPEND_DATA,
                                                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                                                nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
        DWORD written = 0;
        if (!file || !WriteFile(file.get(), line.data(), static_cast<DWORD>(line.size()), &written, nullptr)) {
            error = GetLastError();
        } else if (written != line.size()) {
            error = ERROR_WRITE_FAULT;
        }
    }
    ReleaseMutex(mutex.get());
    return error;
}

// The line of a call whose effect has already happened: losing the line must not undo it.
inline void RecordCall(const wchar_t* fileName, const char* call, const std::string& fields) noexcept
{
    try {
        AppendLine(fileName, call, fields);
    } catch (...) {
        // Out of memory: the line is lost.
    }
}

} // namespace QxEventsFile
