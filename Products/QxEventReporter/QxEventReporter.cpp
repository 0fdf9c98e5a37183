// QxEventReporter.dll: writes the host's events to the system event log under the source it is
// initialised with, and appends each call to Logs\QxEventReporter.events beside the executable.
// Contract, file format, results and the test hook are described in README.md beside this file.
#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "EventsFile.h"

namespace {

constexpr const wchar_t* kEventsFile = L"QxEventReporter.events";
constexpr const wchar_t* kSettingsKey = L"SOFTWARE\\Qx\\QxEventReporter";

using QxStandIn::HResultFromWin32;

// One event source per process, shared by every ErInitialize with its name: the host may bring
// up two reporters for one source at once and drop one of them again.
struct Source {
    std::wstring name;
    HANDLE eventLog = nullptr;
    unsigned references = 0;
};

SRWLOCK g_lock = SRWLOCK_INIT;
Source g_source;

} // namespace

extern "C" __declspec(dllexport) HRESULT ErInitialize(const wchar_t* sourceName, const wchar_t* initParam)
{
    if (sourceName == nullptr || initParam == nullptr) {
        return E_POINTER;
    }
    if (*sourceName == L'\0') {
        return E_INVALIDARG;
    }
    try {
        const QxStandIn::SrwLockGuard lock(g_lock);
        if (g_source.references != 0 && g_source.name != sourceName) {
            return HResultFromWin32(ERROR_ALREADY_INITIALIZED);
        }
        const std::string fields = "\tsource=" + QxEventsFile::Escaped(sourceName) +
                                   "\tinit=" + QxEventsFile::Escaped(initParam) +
                                   "\trefs=" + std::to_string(g_source.references + 1);
        if (g_source.references == 0) {
            std::wstring name = sourceName;
            const HANDLE eventLog = RegisterEventSourceW(nullptr, sourceName);
            if (eventLog == nullptr) {
                return HResultFromWin32(GetLastError());
            }
            g_source.name = std::move(name);
            g_source.eventLog = eventLog;
        }
        ++g_source.references;
        QxEventsFile::RecordCall(kEventsFile, "ErInitialize", fields);
        return S_OK;
    } catch (...) {
        return E_OUTOFMEMORY;
    }
}

extern "C" __declspec(dllexport) HRESULT
    ErReportEvent3(std::uint16_t type, std::uint16_t category, std::uint32_t eventId, void* sid,
                   std::uint16_t numStrings, const wchar_t** strings, std::uint32_t alert, std::uint32_t extraParam)
{
    if (numStrings != 0 && strings == nullptr) {
        return E_POINTER;
    }
    if (!QxEventsFile::IsEventType(type) || alert > 1 || (sid != nullptr && (IsValidSid(sid) == 0))) {
        return E_INVALIDARG;
    }
    try {
        const QxStandIn::SrwLockGuard lock(g_lock);
        if (g_source.references == 0) {
            return E_HANDLE;
        }
        if (const HRESULT failure = QxEventsFile::RequestedFailure(kSettingsKey, L"FailReports"); FAILED(failure)) {
            return failure;
        }
        // The event log takes no null entries; a gap in the insertion strings is an empty one there.
        std::vector<const wchar_t*> logStrings(strings, strings + numStrings);
        for (const wchar_t*& text : logStrings) {
            if (text == nullptr) {
                text = L"";
            }
        }
        const std::string fields = "\tsource=" + QxEventsFile::Escaped(g_source.name) +
                                   "\ttype=" + std::to_string(type) + "\tcategory=" + std::to_string(category) +
                                   "\tid=" + QxEventsFile::Hex32(eventId) + "\tsid=" + QxEventsFile::SidText(sid) +
                                   "\talert=" + std::to_string(alert) + "\textra=" + QxEventsFile::Hex32(extraParam) +
                                   QxEventsFile::StringFields(numStrings, strings);
        if (ReportEventW(g_source.eventLog, type, category, eventId, sid, numStrings, 0,
                         logStrings.empty() ? nullptr : logStrings.data(), nullptr) == 0) {
            return HResultFromWin32(GetLastError());
        }
        return HResultFromWin32(QxEventsFile::AppendLine(kEventsFile, "ErReportEvent3", fields));
    } catch (...) {
        return E_OUTOFMEMORY;
    }
}

extern "C" __declspec(dllexport) void ErShutdown()
{
    const QxStandIn::SrwLockGuard lock(g_lock);
    if (g_source.references == 0) {
        return;
    }
    std::string fields;
    try {
        fields =
            "\tsource=" + QxEventsFile::Escaped(g_source.name) + "\trefs=" + std::to_string(g_source.references - 1);
    } catch (...) {
        // Out of memory: the line is lost, the source is released all the same.
    }
    if (--g_source.references == 0) {
        DeregisterEventSource(g_source.eventLog);
        g_source.eventLog = nullptr;
        g_source.name.clear();
    }
    if (!fields.empty()) {
        QxEventsFile::RecordCall(kEventsFile, "ErShutdown", fields);
    }
}
