// QxLogCompr.dll as the host uses it: Initialize after loading, Shutdown before freeing. The packer
// works on the Logs folder beside the executable, which for this test executable is the host's.
#include <windows.h>

#include <gtest/gtest.h>

#define ZLIB_CONST
#include <zlib.h>

#include <tlhelp32.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "PollUntil.h"
#include "StandInTestSupport.h"

namespace {

using namespace Qx::Testing;
using Qx::Platform::UniqueKernelHandle;

using InitializeFunction = HRESULT (*)();
using ShutdownFunction = void (*)();

constexpr HRESULT kAlreadyInitialized = static_cast<HRESULT>(0x800704DF);
constexpr ULONGLONG kPackTimeoutMs = 10000;
constexpr ULONGLONG kPromptShutdownMs = 1000;
// zlib's window size, plus 16 for gzip members instead of its own wrapper.
constexpr int kGzipWindowBits = 15 + 16;

std::vector<DWORD> ThreadsOfThisProcess()
{
    std::vector<DWORD> ids;
    const UniqueKernelHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0));
    THREADENTRY32 entry{};
    entry.dwSize = sizeof(entry);
    for (BOOL more = snapshot ? Thread32First(snapshot.get(), &entry) : FALSE; more != 0;
         more = Thread32Next(snapshot.get(), &entry)) {
        if (entry.th32OwnerProcessID == GetCurrentProcessId()) {
            ids.push_back(entry.th32ThreadID);
        }
    }
    std::sort(ids.begin(), ids.end());
    return ids;
}

std::vector<DWORD> Without(const std::vector<DWORD>& ids, const std::vector<DWORD>& others)
{
    std::vector<DWORD> rest;
    std::set_difference(ids.begin(), ids.end(), others.begin(), others.end(), std::back_inserter(rest));
    return rest;
}

std::uint32_t Le(const std::string& bytes, std::size_t offset, int size)
{
    std::uint32_t value = 0;
    for (int i = size - 1; i >= 0; --i) {
        value = (value << 8) | static_cast<std::uint8_t>(bytes[offset + static_cast<std::size_t>(i)]);
    }
    return value;
}

struct GzipMember {
    std::uint32_t mtime = 0;
    std::string payload;
};

// Every member of a gzip file, inflated by zlib, which checks each member's CRC-32 and ISIZE against
// its data; the header bytes are checked here, as the packer writes them.
std::vector<GzipMember> ReadGzip(const std::string& archive)
{
    std::vector<GzipMember> members;
    z_stream stream{};
    if (inflateInit2(&stream, kGzipWindowBits) != Z_OK) {
        ADD_FAILURE() << "inflateInit2 failed";
        return members;
    }
    stream.next_in = reinterpret_cast<const Bytef*>(archive.data());
    stream.avail_in = static_cast<uInt>(archive.size());
    while (stream.avail_in != 0) {
        const std::size_t at = archive.size() - stream.avail_in;
        if (stream.avail_in < 10) {
            ADD_FAILURE() << "truncated member header at " << at;
            break;
        }
        EXPECT_EQ(static_cast<std::uint8_t>(archive[at]), 0x1F) << "ID1 at " << at;
        EXPECT_EQ(static_cast<std::uint8_t>(archive[at + 1]), 0x8B) << "ID2 at " << at;
        EXPECT_EQ(archive[at + 2], 8) << "CM deflate";
        EXPECT_EQ(archive[at + 3], 0) << "FLG: no extra fields";
        EXPECT_EQ(archive[at + 8], 0) << "XFL";
        EXPECT_EQ(archive[at + 9], 11) << "OS NTFS";
        GzipMember member{Le(archive, at + 4, 4), {}};
        int result = Z_OK;
        while (result == Z_OK) {
            char chunk[16384];
            stream.next_out = reinterpret_cast<Bytef*>(chunk);
            stream.avail_out = sizeof(chunk);
            result = inflate(&stream, Z_NO_FLUSH);
            member.payload.append(chunk, sizeof(chunk) - stream.avail_out);
        }
        if (result != Z_STREAM_END) {
            ADD_FAILURE() << "member at " << at << ": zlib error " << result << " "
                          << (stream.msg != nullptr ? stream.msg : "");
            break;
        }
        members.push_back(std::move(member));
        inflateReset(&stream);
    }
    inflateEnd(&stream);
    return members;
}

std::string PseudoRandomBytes(std::size_t size)
{
    std::string bytes(size, '\0');
    std::uint32_t state = 0x12345678;
    for (char& byte : bytes) {
        state = state * 1664525u + 1013904223u;
        byte = static_cast<char>(state >> 24);
    }
    return bytes;
}

void SetLastWriteTimeUtc(const std::wstring& path, WORD year, WORD month, WORD day, WORD hour, WORD minute, WORD second)
{
    // The day of the week, which SystemTimeToFileTime ignores, and the milliseconds stay 0.
    const SYSTEMTIME time{year, month, 0, day, hour, minute, second, 0};
    FILETIME fileTime{};
    ASSERT_TRUE(SystemTimeToFileTime(&time, &fileTime));
    const UniqueKernelHandle file(
        CreateFileW(path.c_str(), FILE_WRITE_ATTRIBUTES, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_NE(file.get(), INVALID_HANDLE_VALUE);
    EXPECT_TRUE(SetFileTime(file.get(), nullptr, nullptr, &fileTime));
}

class QxLogComprTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        CreateDirectoryW(LogsDirectory().c_str(), nullptr);
        m_module = LoadLibraryW(L"QxLogCompr.dll");
        ASSERT_NE(m_module, nullptr) << "LoadLibraryW failed with " << GetLastError();
        m_initialize =
            reinterpret_cast<InitializeFunction>(reinterpret_cast<void (*)()>(GetProcAddress(m_module, "Initialize")));
        m_shutdown =
            reinterpret_cast<ShutdownFunction>(reinterpret_cast<void (*)()>(GetProcAddress(m_module, "Shutdown")));
        ASSERT_TRUE(m_initialize != nullptr && m_shutdown != nullptr);
    }

    // After Shutdown the packer thread has let go of its reference to the DLL, so freeing it once
    // unloads it.
    void TearDown() override
    {
        if (m_module != nullptr) {
            m_shutdown();
            EXPECT_TRUE(FreeLibrary(m_module));
            EXPECT_EQ(GetModuleHandleW(L"QxLogCompr.dll"), nullptr) << "QxLogCompr.dll stayed loaded";
        }
        for (const std::wstring& path : m_files) {
            DeleteFileW(path.c_str());
            DeleteFileW((path + L".gz").c_str());
            DeleteFileW((path + L".gz.part").c_str());
        }
    }

    // A file in the Logs folder, named "StandIns-LC-<purpose>(<pid>)<suffix>"; it and the archive
    // made of it are removed before and after the test.
    std::wstring OwnLogFile(const std::wstring& purpose, const std::wstring& suffix)
    {
        m_files.push_back(LogsDirectory() + L"StandIns-LC-" + purpose + L"(" + std::to_wstring(GetCurrentProcessId()) +
                          L")" + suffix);
        DeleteFileW(m_files.back().c_str());
        DeleteFileW((m_files.back() + L".gz").c_str());
        return m_files.back();
    }

    static bool WaitUntilPacked(const std::vector<std::wstring>& logFiles)
    {
        return PollUntil(
            [&] {
                return std::ranges::all_of(
                    logFiles, [](const std::wstring& path) { return !FileExists(path) && FileExists(path + L".gz"); });
            },
            kPackTimeoutMs, 50);
    }

    ULONGLONG TimedShutdown()
    {
        const ULONGLONG start = GetTickCount64();
        m_shutdown();
        return GetTickCount64() - start;
    }

    HMODULE m_module = nullptr;
    InitializeFunction m_initialize = nullptr;
    ShutdownFunction m_shutdown = nullptr;
    std::vector<std::wstring> m_files;
};

TEST_F(QxLogComprTest, RotatedFilesArePackedIntoGzipAndRemoved)
{
    const std::string large = PseudoRandomBytes(2 * 65535 + 18930);
    const std::wstring largeLog = OwnLogFile(L"Large", L".1.log");
    WriteFileBytes(largeLog, large);
    SetLastWriteTimeUtc(largeLog, 2021, 3, 4, 5, 6, 7);
    const std::wstring checkLog = OwnLogFile(L"Check", L".2.log");
    WriteFileBytes(checkLog, "123456789");
    const std::wstring emptyLog = OwnLogFile(L"Empty", L".17.log");
    WriteFileBytes(emptyLog, "");
    std::string lines;
    for (int i = 0; i < 2000; ++i) {
        lines += "2021-03-04 05:06:07.123 [INFO ] heartbeat " + std::to_string(i) + "\r\n";
    }
    const std::wstring linesLog = OwnLogFile(L"Lines", L".3.log");
    WriteFileBytes(linesLog, lines);
    // Names the logger does not give rotated files: its current file and look-alikes.
    const std::vector<std::wstring> untouched = {OwnLogFile(L"Current", L".log"), OwnLogFile(L"Letters", L".x1.log"),
                                                 OwnLogFile(L"NoDigits", L"..log"), OwnLogFile(L"Text", L".1.txt"),
                                                 OwnLogFile(L"LongerExtension", L".1.logs")};
    for (const std::wstring& path : untouched) {
        WriteFileBytes(path, "keep me\r\n");
    }

    ASSERT_EQ(m_initialize(), S_OK);
    EXPECT_EQ(m_initialize(), kAlreadyInitialized) << "one packer thread per process";
    ASSERT_TRUE(WaitUntilPacked({largeLog, checkLog, emptyLog, linesLog}));

    const std::vector<GzipMember> largeMembers = ReadGzip(ReadFileBytes(largeLog + L".gz"));
    ASSERT_EQ(largeMembers.size(), 1u);
    EXPECT_EQ(largeMembers[0].mtime, 1614834367u) << "2021-03-04 05:06:07 UTC, the log file's last write";
    EXPECT_TRUE(largeMembers[0].payload == large) << "payload differs from the log file";

    // The CRC-32 check value of "123456789", from a source other than zlib, and ISIZE.
    const std::string checkArchive = ReadFileBytes(checkLog + L".gz");
    ASSERT_GE(checkArchive.size(), 18u);
    EXPECT_EQ(Le(checkArchive, checkArchive.size() - 8, 4), 0xCBF43926u);
    EXPECT_EQ(Le(checkArchive, checkArchive.size() - 4, 4), 9u);
    const std::vector<GzipMember> checkMembers = ReadGzip(checkArchive);
    ASSERT_EQ(checkMembers.size(), 1u);
    EXPECT_EQ(checkMembers[0].payload, "123456789");

    const std::string emptyArchive = ReadFileBytes(emptyLog + L".gz");
    ASSERT_GE(emptyArchive.size(), 18u);
    EXPECT_EQ(emptyArchive.substr(emptyArchive.size() - 8), std::string(8, '\0')) << "CRC 0, ISIZE 0";
    const std::vector<GzipMember> emptyMembers = ReadGzip(emptyArchive);
    ASSERT_EQ(emptyMembers.size(), 1u);
    EXPECT_EQ(emptyMembers[0].payload, "");

    // Log text repeats itself and is compressed, not only packed.
    const std::string linesArchive = ReadFileBytes(linesLog + L".gz");
    EXPECT_LT(linesArchive.size(), lines.size() / 4);
    const std::vector<GzipMember> linesMembers = ReadGzip(linesArchive);
    ASSERT_EQ(linesMembers.size(), 1u);
    EXPECT_TRUE(linesMembers[0].payload == lines) << "payload differs from the log file";

    for (const std::wstring& path : untouched) {
        EXPECT_EQ(ReadFileBytes(path), "keep me\r\n");
        EXPECT_FALSE(FileExists(path + L".gz"));
    }
    for (const std::wstring& path : {largeLog, checkLog, emptyLog, linesLog}) {
        EXPECT_FALSE(FileExists(path + L".gz.part"));
    }
    EXPECT_LT(TimedShutdown(), kPromptShutdownMs);
}

// Files are checked every 2 s: a file held open for writing waits for a later round, and a file
// rotated again to a number whose archive exists is added to that archive.
TEST_F(QxLogComprTest, BusyFilesWaitAndRepeatedNumbersAddMembers)
{
    const std::wstring reused = OwnLogFile(L"Reused", L".1.log");
    WriteFileBytes(reused, "first rotation\r\n");
    const std::wstring busy = OwnLogFile(L"Busy", L".1.log");
    UniqueKernelHandle writer(CreateFileW(busy.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                          CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_NE(writer.get(), INVALID_HANDLE_VALUE);
    DWORD written = 0;
    EXPECT_TRUE(WriteFile(writer.get(), "still writing\r\n", 15, &written, nullptr));

    ASSERT_EQ(m_initialize(), S_OK);
    ASSERT_TRUE(WaitUntilPacked({reused}));
    EXPECT_TRUE(FileExists(busy));
    EXPECT_FALSE(FileExists(busy + L".gz"));
    EXPECT_FALSE(FileExists(busy + L".gz.part"));

    writer.reset();
    WriteFileBytes(reused, "second rotation\r\n");
    ASSERT_TRUE(WaitUntilPacked({reused, busy}));

    const std::vector<GzipMember> reusedMembers = ReadGzip(ReadFileBytes(reused + L".gz"));
    ASSERT_EQ(reusedMembers.size(), 2u);
    EXPECT_EQ(reusedMembers[0].payload, "first rotation\r\n");
    EXPECT_EQ(reusedMembers[1].payload, "second rotation\r\n");
    const std::vector<GzipMember> busyMembers = ReadGzip(ReadFileBytes(busy + L".gz"));
    ASSERT_EQ(busyMembers.size(), 1u);
    EXPECT_EQ(busyMembers[0].payload, "still writing\r\n");
    EXPECT_LT(TimedShutdown(), kPromptShutdownMs);
}

TEST_F(QxLogComprTest, ShutdownIsHarmlessWithoutThreadAndInitializeRestartsAfterIt)
{
    EXPECT_LT(TimedShutdown(), kPromptShutdownMs) << "before any Initialize";
    ASSERT_EQ(m_initialize(), S_OK);
    EXPECT_EQ(m_initialize(), kAlreadyInitialized);
    EXPECT_LT(TimedShutdown(), kPromptShutdownMs);
    EXPECT_LT(TimedShutdown(), kPromptShutdownMs) << "a second Shutdown";
    const std::vector<DWORD> before = ThreadsOfThisProcess();
    ASSERT_EQ(m_initialize(), S_OK) << "a new thread after Shutdown";
    EXPECT_EQ(m_initialize(), kAlreadyInitialized);
    const std::vector<DWORD> packer = Without(ThreadsOfThisProcess(), before);
    EXPECT_FALSE(packer.empty()) << "Initialize starts the packer";
    EXPECT_LT(TimedShutdown(), kPromptShutdownMs);

    // Shutdown returns after the packer has ended, so nothing packs a file rotated from now on.
    const std::vector<DWORD> after = ThreadsOfThisProcess();
    EXPECT_EQ(Without(packer, after), packer) << "the packer ends before Shutdown returns";
}

} // namespace
