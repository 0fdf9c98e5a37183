// QxLogCompr.dll: packs the logger's rotated files into gzip archives from a background thread.
// Which files, the archive format and the results are described in README.md beside this file.
#include <windows.h>

#include <zlib.h>

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "Platform/Win32/UniqueWin32Handles.h"
#include "StandInSupport.h"

namespace {

constexpr DWORD kScanPeriodMs = 2000;
constexpr DWORD kShutdownWaitMs = 5000;
constexpr DWORD kChunkSize = 65536;
// 100-ns intervals from 1601-01-01 to 1970-01-01, for the gzip MTIME field.
constexpr std::uint64_t kUnixEpochInFileTime = 116444736000000000ULL;
// zlib's window size, plus 16 for a gzip wrapper instead of its own.
constexpr int kGzipWindowBits = 15 + 16;
constexpr int kGzipOsNtfs = 11;
constexpr int kDefaultMemoryLevel = 8;

using Qx::Platform::UniqueKernelHandle;
using QxStandIn::HResultFromWin32;

bool WriteAll(HANDLE file, const std::uint8_t* bytes, DWORD size)
{
    DWORD written = 0;
    return WriteFile(file, bytes, size, &written, nullptr) != FALSE && written == size;
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
    const UniqueKernelHandle previous(CreateFileW(archivePath.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!previous) {
        return GetLastError() == ERROR_FILE_NOT_FOUND;
    }
    std::vector<std::uint8_t> buffer(kChunkSize);
    DWORD read = 0;
    while (ReadFile(previous.get(), buffer.data(), kChunkSize, &read, nullptr) != FALSE) {
        if (read == 0) {
            return true;
        }
        if (!WriteAll(target, buffer.data(), read)) {
            return false;
        }
    }
    return false;
}

// Feeds the source file through the deflate stream into target, a chunk at a time, until zlib has
// written the gzip trailer. Gives up when the stop event is set.
bool DeflateFile(z_stream& stream, HANDLE source, HANDLE target, HANDLE stopEvent, std::vector<std::uint8_t>& input,
                 std::vector<std::uint8_t>& output)
{
    for (int flush = Z_NO_FLUSH; flush != Z_FINISH;) {
        DWORD read = 0;
        if (WaitForSingleObject(stopEvent, 0) == WAIT_OBJECT_0 ||
            (ReadFile(source, input.data(), kChunkSize, &read, nullptr) == 0)) {
            return false;
        }
        flush = read == 0 ? Z_FINISH : Z_NO_FLUSH;
        stream.next_in = input.data();
        stream.avail_in = read;
        do {
            stream.next_out = output.data();
            stream.avail_out = kChunkSize;
            if (deflate(&stream, flush) == Z_STREAM_ERROR ||
                !WriteAll(target, output.data(), kChunkSize - stream.avail_out)) {
                return false;
            }
        } while (stream.avail_out == 0);
    }
    return true;
}

// One gzip member (RFC 1952) with the log file's last write time.
bool WriteGzipMember(HANDLE source, HANDLE target, HANDLE stopEvent)
{
    FILETIME lastWrite{};
    if (GetFileTime(source, nullptr, nullptr, &lastWrite) == 0) {
        return false;
    }
    const std::uint64_t fileTime = (std::uint64_t{lastWrite.dwHighDateTime} << 32) | lastWrite.dwLowDateTime;
    gz_header header{};
    header.time =
        fileTime > kUnixEpochInFileTime ? static_cast<uLong>((fileTime - kUnixEpochInFileTime) / 10000000) : 0;
    header.os = kGzipOsNtfs;
    // Allocated before the stream, so that nothing thrown can leave it without deflateEnd.
    std::vector<std::uint8_t> input(kChunkSize);
    std::vector<std::uint8_t> output(kChunkSize);
    z_stream stream{};
    if (deflateInit2(&stream, Z_DEFAULT_COMPRESSION, Z_DEFLATED, kGzipWindowBits, kDefaultMemoryLevel,
                     Z_DEFAULT_STRATEGY) != Z_OK) {
        return false;
    }
    const bool written =
        deflateSetHeader(&stream, &header) == Z_OK && DeflateFile(stream, source, target, stopEvent, input, output);
    deflateEnd(&stream);
    return written;
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
        const UniqueKernelHandle source(CreateFileW(logPath.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                                    OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
        if (!source) {
            return;
        }
        const UniqueKernelHandle part(CreateFileW(partPath.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                                  CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!part) {
            return;
        }
        packed = CopyExistingArchive(archivePath, part.get()) && WriteGzipMember(source.get(), part.get(), stopEvent) &&
                 (FlushFileBuffers(part.get()) != 0);
    }
    if (packed &&
        (MoveFileExW(partPath.c_str(), archivePath.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0)) {
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
    {
        const Qx::Platform::UniqueFindHandle search(FindFirstFileW((folder + L"*.log").c_str(), &found));
        if (!search) {
            return;
        }
        do {
            if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0 && IsRotatedLogName(found.cFileName)) {
                names.emplace_back(found.cFileName);
            }
        } while (FindNextFileW(search.get(), &found) != 0);
    }
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
    UniqueKernelHandle stopEvent(parameter);
    do {
        try {
            PackRotatedFiles(stopEvent.get());
        } catch (...) {
            // Out of memory: this round is lost, the next one starts afresh.
        }
    } while (WaitForSingleObject(stopEvent.get(), kScanPeriodMs) == WAIT_TIMEOUT);
    // FreeLibraryAndExitThread does not return: no destructor runs after it.
    stopEvent.reset();
    FreeLibraryAndExitThread(Qx::Win32Support::ThisModule(), 0);
}

SRWLOCK g_lock = SRWLOCK_INIT;
UniqueKernelHandle g_thread;
HANDLE g_stopEvent = nullptr; // the packer thread's own

} // namespace

extern "C" __declspec(dllexport) HRESULT Initialize()
{
    const QxStandIn::SrwLockGuard lock(g_lock);
    if (g_thread) {
        return HResultFromWin32(ERROR_ALREADY_INITIALIZED);
    }
    UniqueKernelHandle stopEvent(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    if (!stopEvent) {
        return HResultFromWin32(GetLastError());
    }
    HMODULE self = nullptr;
    if (GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS, reinterpret_cast<LPCWSTR>(&__ImageBase), &self) ==
        0) {
        return HResultFromWin32(GetLastError());
    }
    g_thread.reset(CreateThread(nullptr, 0, PackerThread, stopEvent.get(), 0, nullptr));
    if (!g_thread) {
        const DWORD error = GetLastError();
        FreeLibrary(self);
        return HResultFromWin32(error);
    }
    g_stopEvent = stopEvent.release();
    return S_OK;
}

extern "C" __declspec(dllexport) void Shutdown()
{
    const QxStandIn::SrwLockGuard lock(g_lock);
    if (!g_thread) {
        return;
    }
    SetEvent(g_stopEvent);
    WaitForSingleObject(g_thread.get(), kShutdownWaitMs);
    g_thread.reset();
    g_stopEvent = nullptr;
}
