// QxEventAgentClient.dll: hands the host's events to the product's event agent. This stand-in has
// no agent to talk to; it appends each call to Logs\QxEventAgentClient.events beside the executable.
// Contract, file format, results and the test hook are described in README.md beside this file.
#include <windows.h>

#include <cstdint>
#include <map>
#include <string>

#include "EventsFile.h"

namespace {

constexpr const wchar_t* kEventsFile = L"QxEventAgentClient.events";
constexpr const wchar_t* kSettingsKey = L"SOFTWARE\\Qx\\QxEventAgentClient";

using QxStandIn::HResultFromWin32;

// Registered sources by handle. Handles are small numbers from 1, never reused within a process,
// so a stale handle is refused rather than taken for a newer source.
SRWLOCK g_lock = SRWLOCK_INIT;
std::map<std::uintptr_t, std::wstring> g_sources;
std::uintptr_t g_lastHandle = 0;

std::string HandleText(std::uintptr_t handle)
{
    return QxEventsFile::Hex32(static_cast<DWORD>(handle));
}

} // namespace

extern "C" __declspec(dllexport) HRESULT EcRegisterEventSource(const wchar_t* sourceName, HANDLE* handle)
{
    if (sourceName == nullptr || handle == nullptr) {
        return E_POINTER;
    }
    if (*sourceName == L'\0') {
        return E_INVALIDARG;
    }
    try {
        const QxStandIn::SrwLockGuard lock(g_lock);
        const std::uintptr_t registered = g_lastHandle + 1;
        const std::string fields =
            "\tsource=" + QxEventsFile::Escaped(sourceName) + "\thandle=" + HandleText(registered);
        g_sources.emplace(registered, sourceName);
        g_lastHandle = registered;
        *handle = reinterpret_cast<HANDLE>(registered);
        QxEventsFile::RecordCall(kEventsFile, "EcRegisterEventSource", fields);
        return S_OK;
    } catch (...) {
        return E_OUTOFMEMORY;
    }
}

extern "C" __declspec(dllexport) HRESULT
    EcWriteEvent(HANDLE handle, std::uint16_t type, std::uint16_t category, std::uint32_t eventId, void* sid,
                 std::uint16_t numStrings, std::uint32_t zero, const wchar_t** strings, void* nullData,
                 std::uint64_t zero64)
{
    if (numStrings != 0 && strings == nullptr) {
        return E_POINTER;
    }
    if (zero != 0 || nullData != nullptr || zero64 != 0 || !QxEventsFile::IsEventType(type) ||
        (sid != nullptr && (IsValidSid(sid) == 0))) {
        return E_INVALIDARG;
    }
    try {
        const QxStandIn::SrwLockGuard lock(g_lock);
        const auto source = g_sources.find(reinterpret_cast<std::uintptr_t>(handle));
        if (source == g_sources.end()) {
            return E_HANDLE;
        }
        if (const HRESULT failure = QxEventsFile::RequestedFailure(kSettingsKey, L"FailWrites"); FAILED(failure)) {
            return failure;
        }
        const std::string fields = "\tsource=" + QxEventsFile::Escaped(source->second) +
                                   "\thandle=" + HandleText(source->first) + "\ttype=" + std::to_string(type) +
                                   "\tcategory=" + std::to_string(category) + "\tid=" + QxEventsFile::Hex32(eventId) +
                                   "\tsid=" + QxEventsFile::SidText(sid) +
                                   QxEventsFile::StringFields(numStrings, strings);
        return HResultFromWin32(QxEventsFile::AppendLine(kEventsFile, "EcWriteEvent", fields));
    } catch (...) {
        return E_OUTOFMEMORY;
    }
}

extern "C" __declspec(dllexport) void EcDeregisterEventSource(HANDLE handle)
{
    const QxStandIn::SrwLockGuard lock(g_lock);
    const auto source = g_sources.find(reinterpret_cast<std::uintptr_t>(handle));
    if (source == g_sources.end()) {
        return;
    }
    std::string fields;
    try {
        fields = "\tsource=" + QxEventsFile::Escaped(source->second) + "\thandle=" + HandleText(source->first);
    } catch (...) {
        // Out of memory: the line is lost, the source is released all the same.
    }
    g_sources.erase(source);
    if (!fields.empty()) {
        QxEventsFile::RecordCall(kEventsFile, "EcDeregisterEventSource", fields);
    }
}
