// QxLogCompr.dll: packs the logger's rotated files into gzip archives from a background thread.
// Which files, the archive format and the results are described in README.md beside this file.
#include <windows.h>

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "StandInSupport.h"

namespace {

constexpr DWORD kScanPeriodMs = 2000;
constexpr DWORD kShutdownWaitMs = 5000;
constexpr DWORD kMaxStoredBlock = 65535;
// 100-ns intervals from 1601-01-01 to 1970-01-01, for the gzip MTIME field.
constexpr std::uint64_t kUnixEpochInFileTime = 116444736000000000ULL;

using QxStandIn::HResultFromWin32;

std::uint32_t Crc32Update(std::uint32_t crc, const std::uint8_t* data, std::size_t size)
{
    static const std::array<std::uint32_t, 256> table = [] {
        std::array<std::uint32_t, 256> entries{};
        for (std::uint32_t n = 0; n < 256; ++n) {
            std::uint32_t c = n;
            for (int bit = 0; bit < 8; ++bit) {
                c = (c & 1) != 0 ? 0xEDB88320U ^ (c >> 1) : c >> 1;
            }
            entries[n] = c;
        }
        return entries;
    }();
    crc = ~crc;
    for (std::size_t i = 0; i < size; ++i) {
        crc = table[(crc ^ data[i]) & 0xFF] ^ (crc >> 8);
    }
    return ~crc;
}

void AppendLe(std::vector<std::uint8_t>& out, std::uint32_t value, int bytes)
{
    for (int i = 0; i < bytes; ++i) {
        out.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
    }
}

bool WriteAll(HANDLE file, const std::vector<std::uint8_t>& bytes)
{
    DWORD written = 0;
    return WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) != FALSE &&
           written == bytes.size();
}

// "<stem>.<n>.log" with a non-empty stem and n made of digits: the logger's name for a full file
// it has put aside. Its current file, "<stem>.log", never ends in a number after a dot.
bool IsRotatedLogName(const std::wstring& name)
{
    constexpr std::wstring_view kSuffix = L".log";
    if (name.size() <= kSuffix.size() || name.compare(name.size() - kSuffix.size(), kSuffix.size(), kSuffix) != 0) {
        return false;
    }
    const std::wstring base = name.substr(0, name.size() - kSuffix.size());
    const std::size_t dot = base.find_last_of(L'.');
    if (dot == std::wstring::npos || dot == 0 || dot + 1 == base.size()) {
        return false;
    }
    return base.find_first_not_of(L"0123456789", dot + 1) == std::wstring::npos;
}

// Copies the previous archive, if any, to the front of the new one: gzip members may follow each
// other, and gunzip restores their contents one after the other. A file the logger rotated to a
// number whose archive already exists therefore adds to that archive instead of replacing it.
bool CopyExistingArchive(const std::wstring& archivePath, HANDLE target)
{
    const QxStandIn::Handle previous(CreateFileW(archivePath.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                                 OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!previous.valid()) {
        return GetLastError() == ERROR_FILE_NOT_FOUND;
    }
    std::vector<std::uint8_t> buffer(kMaxStoredBlock);
    DWORD read = 0;
    while (ReadFile(previous.get(), buffer.data(), static_cast<DWORD>(buffer.size()), &read, nullptr) != FALSE) {
        if (read == 0) {
            return true;
        }
        buffer.resize(read);
        if (!WriteAll(target, buffer)) {
            return false;
        }
        buffer.resize(kMaxStoredBlock);
    }
    return false;
}

// One gzip member (RFC 1952) whose deflate stream (RFC 1951) is made of stored blocks only: the
// data is packed, not made smaller. Gives up when the stop event is set.
bool WriteGzipMember(HANDLE source, HANDLE target, HANDLE stopEvent)
{
    FILETIME lastWrite{};
    LARGE_INTEGER size{};
    if (!GetFileTime(source, nullptr, nullptr, &lastWrite) || !GetFileSizeEx(source, &size)) {
        return false;
    }
    const std::uint64_t fileTime = (std::uint64_t{lastWrite.dwHighDateTime} << 32) | lastWrite.dwLowDateTime;
    const std::uint64_t unixTime = fileTime > kUnixEpochInFileTime ? (fileTime - kUnixEpochInFileTime) / 10000000 : 0;
    // ID1 ID2, CM 8 (deflate), FLG 0, MTIME, XFL 0, OS 11 (NTFS).
    std::vector<std::uint8_t> header{0x1F, 0x8B, 8, 0};
    AppendLe(header, static_cast<std::uint32_t>(unixTime), 4);
    header.push_back(0);
    header.push_back(11);
    if (!WriteAll(target, header)) {
        return false;
    }
    std::uint64_t remaining = static_cast<std::uint64_t>(size.QuadPart);
    std::uint32_t crc = 0;
    std::vector<std::uint8_t> block;
    do {
        if (WaitForSingleObject(stopEvent, 0) == WAIT_OBJECT_0) {
            return false;
        }
        const DWORD length = remaining < kMaxStoredBlock ? static_cast<DWORD>(remaining) : kMaxStoredBlock;
        remaining -= length;
        // BFINAL in bit 0, BTYPE 00 (stored) in bits 1-2, the rest of the byte is padding; then LEN
        // and its one's complement NLEN.
        block.assign({remaining == 0 ? std::uint8_t{1} : std::uint8_t{0}});
        AppendLe(block, length, 2);
        AppendLe(block, ~length & 0xFFFF, 2);
        const std::size_t dataStart = block.size();
        block.resize(dataStart + length);
        DWORD read = 0;
        if (!ReadFile(source, block.data() + dataStart, length, &read, nullptr) || read != length) {
            return false;
        }
        crc = Crc32Update(crc, block.data() + dataStart, length);
        if (!WriteAll(target, block)) {
            return false;
        }
    } while (remaining != 0);
    std::vector<std::uint8_t> trailer;
    AppendLe(trailer, crc, 4);
    AppendLe(trailer, static_cast<std::uint32_t>(size.QuadPart), 4);
    return WriteAll(target, trailer);
}

// The archive appears under its final name only when complete and flushed, and the log file goes
// only after that: whatever interrupts the packing, no logged line is lost.
void PackFile(const std::wstring& logPath, HANDLE stopEvent)
{
    const std::wstring archivePath = logPath + L".gz";
    const std::wstring partPath = archivePath + L".part";
    bool packed = false;
    {
        // Shared for reading only: nobody may write to the file or remove it while it is packed.
        const QxStandIn::Handle source(CreateFileW(logPath.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                                   OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
        if (!source.valid()) {
            return;
        }
        const QxStandIn::Handle part(CreateFileW(partPath.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                                 CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!part.valid()) {
            return;
        }
        packed = CopyExistingArchive(archivePath, part.get()) && WriteGzipMember(source.get(), part.get(), stopEvent) &&
                 FlushFileBuffers(part.get());
    }
    if (packed &&
        MoveFileExW(partPath.c_str(), archivePath.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        DeleteFileW(logPath.c_str());
    } else {
        DeleteFileW(partPath.c_str());
    }
}

void PackRotatedFiles(HANDLE stopEvent)
{
    const std::wstring folder = QxStandIn::LogsDirectory();
    if (folder.empty()) {
        return;
    }
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW found{};
    const HANDLE search = FindFirstFileW((folder + L"*.log").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) {
        return;
    }
    do {
        if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0 && IsRotatedLogName(found.cFileName)) {
            names.emplace_back(found.cFileName);
        }
    } while (FindNextFileW(search, &found));
    FindClose(search);
    for (const std::wstring& name : names) {
        if (WaitForSingleObject(stopEvent, 0) == WAIT_OBJECT_0) {
            return;
        }
        PackFile(folder + name, stopEvent);
    }
}

// The thread owns its stop event and a reference to this DLL: should Shutdown stop waiting for it,
// the code it runs stays loaded until it has ended.
DWORD WINAPI PackerThread(void* parameter)
{
    const HANDLE stopEvent = parameter;
    do {
        try {
            PackRotatedFiles(stopEvent);
        } catch (...) {
            // Out of memory: this round is lost, the next one starts afresh.
        }
    } while (WaitForSingleObject(stopEvent, kScanPeriodMs) == WAIT_TIMEOUT);
    CloseHandle(stopEvent);
    FreeLibraryAndExitThread(QxStandIn::ThisModule(), 0);
}

SRWLOCK g_lock = SRWLOCK_INIT;
HANDLE g_thread = nullptr;
HANDLE g_stopEvent = nullptr;

} // namespace

extern "C" __declspec(dllexport) HRESULT Initialize()
{
    const QxStandIn::SrwLockGuard lock(g_lock);
    if (g_thread != nullptr) {
        return HResultFromWin32(ERROR_ALREADY_INITIALIZED);
    }
    const HANDLE stopEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (stopEvent == nullptr) {
        return HResultFromWin32(GetLastError());
    }
    HMODULE self = nullptr;
    if (!GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS, reinterpret_cast<LPCWSTR>(&__ImageBase), &self)) {
        const DWORD error = GetLastError();
        CloseHandle(stopEvent);
        return HResultFromWin32(error);
    }
    const HANDLE thread = CreateThread(nullptr, 0, PackerThread, stopEvent, 0, nullptr);
    if (thread == nullptr) {
        const DWORD error = GetLastError();
        FreeLibrary(self);
        CloseHandle(stopEvent);
        return HResultFromWin32(error);
    }
    g_thread = thread;
    g_stopEvent = stopEvent;
    return S_OK;
}

extern "C" __declspec(dllexport) void Shutdown()
{
    const QxStandIn::SrwLockGuard lock(g_lock);
    if (g_thread == nullptr) {
        return;
    }
    SetEvent(g_stopEvent);
    WaitForSingleObject(g_thread, kShutdownWaitMs);
    CloseHandle(g_thread);
    g_thread = nullptr;
    g_stopEvent = nullptr;
}
