// QxLogCompr.dll as the host uses it: Initialize after loading, Shutdown before freeing. The packer
// works on the Logs folder beside the executable, which for this test executable is the host's.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "StandInTestSupport.h"

namespace {

using namespace QxStandIns;

using InitializeFunction = HRESULT (*)();
using ShutdownFunction = void (*)();

constexpr HRESULT kAlreadyInitialized = static_cast<HRESULT>(0x800704DF);
constexpr ULONGLONG kPackTimeoutMs = 10000;
constexpr ULONGLONG kPromptShutdownMs = 1000;

// Bit by bit, independent of the table the library uses.
std::uint32_t Crc32(const std::string& data)
{
    std::uint32_t crc = 0xFFFFFFFFU;
    for (const char c : data) {
        crc ^= static_cast<std::uint8_t>(c);
        for (int bit = 0; bit < 8; ++bit) {
            crc = (crc >> 1) ^ ((crc & 1) != 0 ? 0xEDB88320U : 0U);
        }
    }
    return ~crc;
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

// Reads every member of a gzip file whose deflate streams hold stored blocks only, checking each
// header byte, each block's LEN/NLEN pair and the CRC-32 and ISIZE trailer against the payload.
std::vector<GzipMember> ReadStoredGzip(const std::string& archive)
{
    std::vector<GzipMember> members;
    std::size_t at = 0;
    while (at < archive.size()) {
        if (archive.size() - at < 10) {
            ADD_FAILURE() << "truncated member header at " << at;
            return members;
        }
        EXPECT_EQ(static_cast<std::uint8_t>(archive[at]), 0x1F) << "ID1 at " << at;
        EXPECT_EQ(static_cast<std::uint8_t>(archive[at + 1]), 0x8B) << "ID2 at " << at;
        EXPECT_EQ(archive[at + 2], 8) << "CM deflate";
        EXPECT_EQ(archive[at + 3], 0) << "FLG: no extra fields";
        GzipMember member;
        member.mtime = Le(archive, at + 4, 4);
        EXPECT_EQ(archive[at + 8], 0) << "XFL";
        EXPECT_EQ(archive[at + 9], 11) << "OS NTFS";
        at += 10;
        for (bool final = false; !final;) {
            if (archive.size() - at < 5) {
                ADD_FAILURE() << "truncated stored block at " << at;
                return members;
            }
            const auto blockHeader = static_cast<std::uint8_t>(archive[at]);
            EXPECT_TRUE(blockHeader == 0 || blockHeader == 1) << "BTYPE stored, zero padding: " << int{blockHeader};
            final = (blockHeader & 1) != 0;
            const std::uint32_t length = Le(archive, at + 1, 2);
            EXPECT_EQ(Le(archive, at + 3, 2), ~length & 0xFFFF) << "NLEN at " << at;
            at += 5;
            if (archive.size() - at < length) {
                ADD_FAILURE() << "stored block runs past the end at " << at;
                return members;
            }
            member.payload.append(archive, at, length);
            at += length;
        }
        if (archive.size() - at < 8) {
            ADD_FAILURE() << "truncated trailer at " << at;
            return members;
        }
        EXPECT_EQ(Le(archive, at, 4), Crc32(member.payload)) << "CRC32";
        EXPECT_EQ(Le(archive, at + 4, 4), static_cast<std::uint32_t>(member.payload.size())) << "ISIZE";
        at += 8;
        members.push_back(std::move(member));
    }
    return members;
}

std::string PseudoRandomBytes(std::size_t size)
{
    std::string bytes(size, '\0');
    std::uint32_t state = 0x12345678;
    for (char& byte : bytes) {
        state = state * 1664525U + 1013904223U;
        byte = static_cast<char>(state >> 24);
    }
    return bytes;
}

void SetLastWriteTimeUtc(const std::wstring& path, WORD year, WORD month, WORD day, WORD hour, WORD minute, WORD second)
{
    SYSTEMTIME time{};
    time.wYear = year;
    time.wMonth = month;
    time.wDay = day;
    time.wHour = hour;
    time.wMinute = minute;
    time.wSecond = second;
    FILETIME fileTime{};
    ASSERT_TRUE(SystemTimeToFileTime(&time, &fileTime));
    const HANDLE file = CreateFileW(path.c_str(), FILE_WRITE_ATTRIBUTES, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    EXPECT_TRUE(SetFileTime(file, nullptr, nullptr, &fileTime));
    CloseHandle(file);
}

class QxLogComprTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        CreateDirectoryW(LogsDirectory().c_str(), nullptr);
        module_ = LoadLibraryW(L"QxLogCompr.dll");
        ASSERT_NE(module_, nullptr) << "LoadLibraryW failed with " << GetLastError();
        initialize_ =
            reinterpret_cast<InitializeFunction>(reinterpret_cast<void (*)()>(GetProcAddress(module_, "Initialize")));
        shutdown_ =
            reinterpret_cast<ShutdownFunction>(reinterpret_cast<void (*)()>(GetProcAddress(module_, "Shutdown")));
        ASSERT_TRUE(initialize_ != nullptr && shutdown_ != nullptr);
    }

    // After Shutdown the packer thread has let go of its reference to the DLL, so freeing it once
    // unloads it.
    void TearDown() override
    {
        if (module_ != nullptr) {
            shutdown_();
            EXPECT_TRUE(FreeLibrary(module_));
            EXPECT_EQ(GetModuleHandleW(L"QxLogCompr.dll"), nullptr) << "QxLogCompr.dll stayed loaded";
        }
        for (const std::wstring& path : files_) {
            DeleteFileW(path.c_str());
            DeleteFileW((path + L".gz").c_str());
            DeleteFileW((path + L".gz.part").c_str());
        }
    }

    // A file in the Logs folder, named "StandIns-LC-<purpose>(<pid>)<suffix>"; it and the archive
    // made of it are removed before and after the test.
    std::wstring OwnLogFile(const std::wstring& purpose, const std::wstring& suffix)
    {
        files_.push_back(LogsDirectory() + L"StandIns-LC-" + purpose + L"(" + std::to_wstring(GetCurrentProcessId()) +
                         L")" + suffix);
        DeleteFileW(files_.back().c_str());
        DeleteFileW((files_.back() + L".gz").c_str());
        return files_.back();
    }

    static bool WaitUntilPacked(const std::vector<std::wstring>& logFiles)
    {
        const ULONGLONG start = GetTickCount64();
        for (;;) {
            bool packed = true;
            for (const std::wstring& path : logFiles) {
                packed = packed && !FileExists(path) && FileExists(path + L".gz");
            }
            if (packed) {
                return true;
            }
            if (GetTickCount64() - start > kPackTimeoutMs) {
                return false;
            }
            Sleep(50);
        }
    }

    ULONGLONG TimedShutdown()
    {
        const ULONGLONG start = GetTickCount64();
        shutdown_();
        return GetTickCount64() - start;
    }

    HMODULE module_ = nullptr;
    InitializeFunction initialize_ = nullptr;
    ShutdownFunction shutdown_ = nullptr;
    std::vector<std::wstring> files_;
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
    // Names the logger does not give rotated files: its current file and look-alikes.
    const std::vector<std::wstring> untouched = {OwnLogFile(L"Current", L".log"), OwnLogFile(L"Letters", L".x1.log"),
                                                 OwnLogFile(L"NoDigits", L"..log"), OwnLogFile(L"Text", L".1.txt"),
                                                 OwnLogFile(L"LongerExtension", L".1.logs")};
    for (const std::wstring& path : untouched) {
        WriteFileBytes(path, "keep me\r\n");
    }

    ASSERT_EQ(initialize_(), S_OK);
    EXPECT_EQ(initialize_(), kAlreadyInitialized) << "one packer thread per process";
    ASSERT_TRUE(WaitUntilPacked({largeLog, checkLog, emptyLog}));

    const std::string largeArchive = ReadFileBytes(largeLog + L".gz");
    const std::vector<GzipMember> largeMembers = ReadStoredGzip(largeArchive);
    ASSERT_EQ(largeMembers.size(), 1u);
    EXPECT_EQ(largeMembers[0].mtime, 1614834367u) << "2021-03-04 05:06:07 UTC, the log file's last write";
    EXPECT_TRUE(largeMembers[0].payload == large) << "payload differs from the log file";
    EXPECT_EQ(largeArchive.size(), large.size() + 3 * 5 + 18) << "three stored blocks";

    // The CRC-32 check value of "123456789", from a source other than this test's own CRC.
    const std::string checkArchive = ReadFileBytes(checkLog + L".gz");
    ASSERT_EQ(checkArchive.size(), 10u + 5 + 9 + 8);
    EXPECT_EQ(Le(checkArchive, checkArchive.size() - 8, 4), 0xCBF43926U);
    const std::vector<GzipMember> checkMembers = ReadStoredGzip(checkArchive);
    ASSERT_EQ(checkMembers.size(), 1u);
    EXPECT_EQ(checkMembers[0].payload, "123456789");

    const std::string emptyArchive = ReadFileBytes(emptyLog + L".gz");
    EXPECT_EQ(emptyArchive.substr(10), std::string("\x01\x00\x00\xFF\xFF\0\0\0\0\0\0\0\0", 13))
        << "one empty final block, CRC 0, ISIZE 0";
    EXPECT_EQ(ReadStoredGzip(emptyArchive).size(), 1u);

    for (const std::wstring& path : untouched) {
        EXPECT_EQ(ReadFileBytes(path), "keep me\r\n");
        EXPECT_FALSE(FileExists(path + L".gz"));
    }
    for (const std::wstring& path : {largeLog, checkLog, emptyLog}) {
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
    const HANDLE writer = CreateFileW(busy.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                      CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(writer, INVALID_HANDLE_VALUE);
    DWORD written = 0;
    EXPECT_TRUE(WriteFile(writer, "still writing\r\n", 15, &written, nullptr));

    ASSERT_EQ(initialize_(), S_OK);
    ASSERT_TRUE(WaitUntilPacked({reused}));
    EXPECT_TRUE(FileExists(busy));
    EXPECT_FALSE(FileExists(busy + L".gz"));
    EXPECT_FALSE(FileExists(busy + L".gz.part"));

    CloseHandle(writer);
    WriteFileBytes(reused, "second rotation\r\n");
    ASSERT_TRUE(WaitUntilPacked({reused, busy}));

    const std::vector<GzipMember> reusedMembers = ReadStoredGzip(ReadFileBytes(reused + L".gz"));
    ASSERT_EQ(reusedMembers.size(), 2u);
    EXPECT_EQ(reusedMembers[0].payload, "first rotation\r\n");
    EXPECT_EQ(reusedMembers[1].payload, "second rotation\r\n");
    const std::vector<GzipMember> busyMembers = ReadStoredGzip(ReadFileBytes(busy + L".gz"));
    ASSERT_EQ(busyMembers.size(), 1u);
    EXPECT_EQ(busyMembers[0].payload, "still writing\r\n");
    EXPECT_LT(TimedShutdown(), kPromptShutdownMs);
}

TEST_F(QxLogComprTest, ShutdownIsHarmlessWithoutThreadAndInitializeRestartsAfterIt)
{
    EXPECT_LT(TimedShutdown(), kPromptShutdownMs) << "before any Initialize";
    ASSERT_EQ(initialize_(), S_OK);
    EXPECT_EQ(initialize_(), kAlreadyInitialized);
    EXPECT_LT(TimedShutdown(), kPromptShutdownMs);
    EXPECT_LT(TimedShutdown(), kPromptShutdownMs) << "a second Shutdown";
    ASSERT_EQ(initialize_(), S_OK) << "a new thread after Shutdown";
    EXPECT_EQ(initialize_(), kAlreadyInitialized);
    EXPECT_LT(TimedShutdown(), kPromptShutdownMs);

    // The thread is gone for good: a file rotated now stays as it is.
    const std::wstring late = OwnLogFile(L"Late", L".1.log");
    WriteFileBytes(late, "after shutdown\r\n");
    Sleep(2500);
    EXPECT_EQ(ReadFileBytes(late), "after shutdown\r\n");
    EXPECT_FALSE(FileExists(late + L".gz"));
}

} // namespace
