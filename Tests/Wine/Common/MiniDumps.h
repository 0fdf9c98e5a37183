// Reading the minidumps that the host, its dump generator and the platform layer write: the file is
// mapped and its streams found with dbghelp's MiniDumpReadDumpStream, to tell whether a dump is
// whole and which exception, if any, it was written for.
#pragma once

#include <windows.h>

#include <dbghelp.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "Platform/Win32/UniqueWin32Handles.h"
#include "TestFiles.h"

namespace Qx::Testing {

struct MiniDumpException {
    std::uint32_t threadId = 0;
    std::uint32_t code = 0;
    std::uint32_t flags = 0;
    std::uint64_t address = 0;
    std::vector<std::uint64_t> parameters;
};

struct MiniDump {
    // Empty for a dump with "MDMP", MINIDUMP_VERSION, a stream directory and streams inside the file,
    // and a thread list, a module list and system information, as every dump has them.
    std::string problem;
    std::vector<std::uint32_t> threadIds;
    std::optional<MiniDumpException> exception;
};

namespace MiniDumpDetail {

// "MDMP" read as a little-endian number; dbghelp.h spells it as a multi-character constant.
inline constexpr std::uint32_t kSignature = 0x504D444D;

// The entries of a thread or module list: a count, then that many entries within the stream.
template <typename Entry>
std::optional<std::span<const Entry>> ListEntries(std::span<const std::byte> list)
{
    ULONG32 count = 0;
    if (list.size() < sizeof(count)) {
        return std::nullopt;
    }
    std::memcpy(&count, list.data(), sizeof(count));
    if ((list.size() - sizeof(count)) / sizeof(Entry) < count) {
        return std::nullopt;
    }
    return std::span(reinterpret_cast<const Entry*>(list.data() + sizeof(count)), count);
}

// MiniDumpReadDumpStream follows the header's directory and the locations in it wherever they
// point: they are checked to lie inside the file first.
inline void ReadStreams(void* base, std::uint64_t size, MiniDump& dump)
{
    const auto* header = static_cast<const MINIDUMP_HEADER*>(base);
    if (size < sizeof(MINIDUMP_HEADER) || header->Signature != kSignature ||
        LOWORD(header->Version) != MINIDUMP_VERSION ||
        header->StreamDirectoryRva + std::uint64_t{header->NumberOfStreams} * sizeof(MINIDUMP_DIRECTORY) > size) {
        dump.problem = "no minidump header and stream directory (" + std::to_string(size) + " bytes)";
        return;
    }
    const std::span directory(
        reinterpret_cast<const MINIDUMP_DIRECTORY*>(static_cast<const std::byte*>(base) + header->StreamDirectoryRva),
        header->NumberOfStreams);
    for (const MINIDUMP_DIRECTORY& entry : directory) {
        if (std::uint64_t{entry.Location.Rva} + entry.Location.DataSize > size) {
            dump.problem = "stream " + std::to_string(entry.StreamType) + " runs past the end of the file";
            return;
        }
    }
    // The stream of type, empty when the dump has none.
    const auto stream = [base](ULONG type) -> std::span<const std::byte> {
        void* found = nullptr;
        ULONG length = 0;
        if (MiniDumpReadDumpStream(base, type, nullptr, &found, &length) == 0) {
            return {};
        }
        return {static_cast<const std::byte*>(found), length};
    };
    const auto threads = ListEntries<MINIDUMP_THREAD>(stream(ThreadListStream));
    const auto modules = ListEntries<MINIDUMP_MODULE>(stream(ModuleListStream));
    if (!threads || threads->empty() || !modules || modules->empty() ||
        stream(SystemInfoStream).size() < sizeof(MINIDUMP_SYSTEM_INFO)) {
        dump.problem = "no threads, modules or system information";
        return;
    }
    for (const MINIDUMP_THREAD& thread : *threads) {
        dump.threadIds.push_back(thread.ThreadId);
    }
    const auto exception = stream(ExceptionStream);
    if (exception.empty()) {
        return;
    }
    const auto* found = reinterpret_cast<const MINIDUMP_EXCEPTION_STREAM*>(exception.data());
    if (exception.size() < sizeof(MINIDUMP_EXCEPTION_STREAM) ||
        found->ExceptionRecord.NumberParameters > EXCEPTION_MAXIMUM_PARAMETERS) {
        dump.problem = "malformed exception stream";
        return;
    }
    const MINIDUMP_EXCEPTION& record = found->ExceptionRecord;
    dump.exception =
        MiniDumpException{found->ThreadId,
                          record.ExceptionCode,
                          record.ExceptionFlags,
                          record.ExceptionAddress,
                          {record.ExceptionInformation, record.ExceptionInformation + record.NumberParameters}};
}

} // namespace MiniDumpDetail

inline MiniDump ReadMiniDump(const std::wstring& path)
{
    MiniDump dump;
    const Qx::Platform::UniqueKernelHandle file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    LARGE_INTEGER size{};
    if (!file || (GetFileSizeEx(file.get(), &size) == 0)) {
        dump.problem = "cannot open " + ToUtf8(path) + ": " + std::to_string(GetLastError());
        return dump;
    }
    // An empty file cannot be mapped.
    const Qx::Platform::UniqueKernelHandle mapping(
        CreateFileMappingW(file.get(), nullptr, PAGE_READONLY, 0, 0, nullptr));
    void* const view = mapping ? MapViewOfFile(mapping.get(), FILE_MAP_READ, 0, 0, 0) : nullptr;
    if (view == nullptr) {
        dump.problem = "cannot map " + ToUtf8(path) + " (" + std::to_string(size.QuadPart) +
                       " bytes): " + std::to_string(GetLastError());
        return dump;
    }
    MiniDumpDetail::ReadStreams(view, static_cast<std::uint64_t>(size.QuadPart), dump);
    UnmapViewOfFile(view);
    return dump;
}

// A dump without problem, with or without an exception, whose thread is among the dump's threads.
inline ::testing::AssertionResult IsWholeMiniDump(const MiniDump& dump, bool withException)
{
    if (!dump.problem.empty()) {
        return ::testing::AssertionFailure() << dump.problem;
    }
    if (dump.exception.has_value() != withException) {
        return ::testing::AssertionFailure() << (withException ? "no exception stream" : "an exception stream");
    }
    if (dump.exception &&
        std::find(dump.threadIds.begin(), dump.threadIds.end(), dump.exception->threadId) == dump.threadIds.end()) {
        return ::testing::AssertionFailure() << "the exception's thread " << dump.exception->threadId
                                             << " is not among the dump's " << dump.threadIds.size() << " threads";
    }
    return ::testing::AssertionSuccess();
}

} // namespace Qx::Testing
