// How many handles another process holds, for the soak test and for benchmarks. Free of gtest.
//
// Wine answers 0 to GetProcessHandleCount for any process but the caller, so the handles are counted
// in the system-wide handle table that NtQuerySystemInformation(SystemExtendedHandleInformation)
// returns, which Wine and Windows both fill. The import libraries do not declare that information
// class, hence the layouts below and the look-up in ntdll.
#pragma once

#include <windows.h>

#include <algorithm>
#include <cstddef>
#include <optional>
#include <vector>

namespace Qx::Testing {

namespace HandleTable {

inline constexpr ULONG kSystemExtendedHandleInformation = 64;
inline constexpr LONG kStatusInfoLengthMismatch = static_cast<LONG>(0xC0000004);

// SYSTEM_HANDLE_TABLE_ENTRY_INFO_EX
struct Entry {
    void* object;
    ULONG_PTR processId;
    ULONG_PTR handleValue;
    ULONG grantedAccess;
    USHORT creatorBackTraceIndex;
    USHORT objectTypeIndex;
    ULONG handleAttributes;
    ULONG reserved;
};

// SYSTEM_HANDLE_INFORMATION_EX: the count, then that many entries.
struct Header {
    ULONG_PTR count;
    ULONG_PTR reserved;
};

using QuerySystemInformation = LONG(WINAPI*)(ULONG informationClass, void* buffer, ULONG size, ULONG* needed);

inline QuerySystemInformation LookUpQuery()
{
    const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    if (ntdll == nullptr) {
        return nullptr;
    }
    return reinterpret_cast<QuerySystemInformation>(
        reinterpret_cast<void (*)()>(GetProcAddress(ntdll, "NtQuerySystemInformation")));
}

// The whole table, in a buffer aligned for its pointer-sized fields. A table larger than the first
// guess is read again into twice the size it needed, leaving room for handles opened meanwhile.
inline std::optional<std::vector<ULONG_PTR>> Read()
{
    const QuerySystemInformation query = LookUpQuery();
    if (query == nullptr) {
        return std::nullopt;
    }
    std::vector<ULONG_PTR> buffer(8192);
    for (;;) {
        const auto size = static_cast<ULONG>(buffer.size() * sizeof(ULONG_PTR));
        ULONG needed = 0;
        const LONG status = query(kSystemExtendedHandleInformation, buffer.data(), size, &needed);
        if (status == kStatusInfoLengthMismatch) {
            buffer.resize(2 * (std::max(needed, size) / sizeof(ULONG_PTR)));
            continue;
        }
        if (status < 0) {
            return std::nullopt;
        }
        return buffer;
    }
}

} // namespace HandleTable

// The number of handles processId holds; nullopt when the handle table cannot be read.
inline std::optional<std::size_t> CountProcessHandles(DWORD processId)
{
    const std::optional<std::vector<ULONG_PTR>> table = HandleTable::Read();
    if (!table) {
        return std::nullopt;
    }
    const auto* header = reinterpret_cast<const HandleTable::Header*>(table->data());
    const auto* entries = reinterpret_cast<const HandleTable::Entry*>(header + 1);
    const std::size_t capacity =
        (table->size() * sizeof(ULONG_PTR) - sizeof(HandleTable::Header)) / sizeof(HandleTable::Entry);
    std::size_t count = 0;
    for (std::size_t i = 0; i < std::min<std::size_t>(header->count, capacity); ++i) {
        if (entries[i].processId == processId) {
            ++count;
        }
    }
    return count;
}

} // namespace Qx::Testing
