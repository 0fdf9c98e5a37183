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
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "TestFiles.h"

namespace QxWineTest {

struct MiniDumpException {
    std::uint32_t threadId = 0;
    std::uint32_t code = 0;
    std::uint32_t flags = 0;
    std::uint64_t address = 0;
    std::vector<std::uint64_t> parameters;
};

struct MiniDump {
    // "MDMP", MINIDUMP_VERSION, a stream directory inside the file, and every stream read inside it.
    bool valid = false;
    std::string problem;
    // Of the thread list, module list and system information streams; empty or false without them.
    std::vector<std::uint32_t> threadIds;
    std::uint32_t moduleCount = 0;
    bool systemInfo = false;
    std::optional<MiniDumpException> exception;
};

namespace MiniDumpDetail {

// "MDMP" read as a little-endian number; dbghelp.h spells it as a multi-character constant.
inline constexpr std::uint32_t kSignature = 0x504D444D;

// MiniDumpReadDumpStream follows the header's directory and the locations in it wherever they
// point, so the header is checked before it is called, and each stream it finds after.
inline void ReadStreams(void* base, std::uint64_t size, MiniDump& dump)
{
    const auto* header = static_cast<const MINIDUMP_HEADER*>(base);
    if (size < sizeof(MINIDUMP_HEADER) || header->Signature != kSignature ||
        LOWORD(header->Version) != MINIDUMP_VERSION ||
        header->StreamDirectoryRva + std::uint64_t{header->NumberOfStreams} * sizeof(MINIDUMP_DIRECTORY) > size) {
        dump.problem = "no minidump header and stream directory (" + std::to_string(size) + " bytes)";
        return;
    }
    // The stream of type holding at least minimum bytes; empty when there is none or it does not fit.
    const auto stream = [&](ULONG type, std::uint64_t minimum) -> std::span<const std::byte> {
        void* found = nullptr;
        ULONG length = 0;
        if (!MiniDumpReadDumpStream(base, type, nullptr, &found, &length)) {
            return {};
        }
        const auto offset = static_cast<std::uint64_t>(static_cast<std::byte*>(found) - static_cast<std::byte*>(base));
        if (offset + length > size || length < minimum) {
            dump.problem += "stream " + std::to_string(type) + " of " + std::to_string(length) + " bytes at " +
                            std::to_string(offset) + " does not fit; ";
            return {};
        }
        return {static_cast<const std::byte*>(found), length};
    };

    if (const auto threads = stream(ThreadListStream, offsetof(MINIDUMP_THREAD_LIST, Threads)); !threads.empty()) {
        const auto* list = reinterpret_cast<const MINIDUMP_THREAD_LIST*>(threads.data());
        if (threads.size() - offsetof(MINIDUMP_THREAD_LIST, Threads) <
            std::uint64_t{list->NumberOfThreads} * sizeof(MINIDUMP_THREAD)) {
            dump.problem += "the thread list runs past its stream; ";
        } else {
            std::for_each_n(list->Threads, list->NumberOfThreads,
                            [&](const MINIDUMP_THREAD& thread) { dump.threadIds.push_back(thread.ThreadId); });
        }
    }
    if (const auto modules = stream(ModuleListStream, offsetof(MINIDUMP_MODULE_LIST, Modules)); !modules.empty()) {
        const auto* list = reinterpret_cast<const MINIDUMP_MODULE_LIST*>(modules.data());
        if (modules.size() - offsetof(MINIDUMP_MODULE_LIST, Modules) <
            std::uint64_t{list->NumberOfModules} * sizeof(MINIDUMP_MODULE)) {
            dump.problem += "the module list runs past its stream; ";
        } else {
            dump.moduleCount = list->NumberOfModules;
        }
    }
    dump.systemInfo = !stream(SystemInfoStream, sizeof(MINIDUMP_SYSTEM_INFO)).empty();
    if (const auto exception = stream(ExceptionStream, sizeof(MINIDUMP_EXCEPTION_STREAM)); !exception.empty()) {
        const auto* found = reinterpret_cast<const MINIDUMP_EXCEPTION_STREAM*>(exception.data());
        const MINIDUMP_EXCEPTION& record = found->ExceptionRecord;
        if (record.NumberParameters > EXCEPTION_MAXIMUM_PARAMETERS) {
            dump.problem += "the exception has " + std::to_string(record.NumberParameters) + " parameters; ";
        } else {
            dump.exception =
                MiniDumpException{found->ThreadId,
                                  record.ExceptionCode,
                                  record.ExceptionFlags,
                                  record.ExceptionAddress,
                                  {record.ExceptionInformation, record.ExceptionInformation + record.NumberParameters}};
        }
    }
    dump.valid = dump.problem.empty();
}

inline std::string Describe(const MiniDump& dump)
{
    return "\n  threads: " + std::to_string(dump.threadIds.size()) + ", modules: " + std::to_string(dump.moduleCount) +
           ", system information: " + (dump.systemInfo ? "yes" : "no") +
           ", exception: " + (dump.exception ? "yes" : "no");
}

} // namespace MiniDumpDetail

inline MiniDump ReadMiniDump(const std::wstring& path)
{
    MiniDump dump;
    const QxStandIn::Handle file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                             FILE_ATTRIBUTE_NORMAL, nullptr));
    LARGE_INTEGER size{};
    if (!file.valid() || !GetFileSizeEx(file.get(), &size)) {
        dump.problem = "cannot open " + ToUtf8(path) + ": " + std::to_string(GetLastError());
        return dump;
    }
    // An empty file cannot be mapped.
    const QxStandIn::Handle mapping(CreateFileMappingW(file.get(), nullptr, PAGE_READONLY, 0, 0, nullptr));
    void* const view = mapping.valid() ? MapViewOfFile(mapping.get(), FILE_MAP_READ, 0, 0, 0) : nullptr;
    if (view == nullptr) {
        dump.problem = "cannot map " + ToUtf8(path) + " (" + std::to_string(size.QuadPart) +
                       " bytes): " + std::to_string(GetLastError());
        return dump;
    }
    MiniDumpDetail::ReadStreams(view, static_cast<std::uint64_t>(size.QuadPart), dump);
    UnmapViewOfFile(view);
    return dump;
}

// valid, with threads, modules and system information as every dump has them, and with or without
// an exception, whose thread is among the dump's threads.
inline ::testing::AssertionResult IsWholeMiniDump(const MiniDump& dump, bool withException)
{
    if (!dump.valid) {
        return ::testing::AssertionFailure() << dump.problem;
    }
    if (dump.threadIds.empty() || dump.moduleCount == 0 || !dump.systemInfo) {
        return ::testing::AssertionFailure()
               << "no threads, modules or system information" << MiniDumpDetail::Describe(dump);
    }
    if (dump.exception.has_value() != withException) {
        return ::testing::AssertionFailure()
               << (withException ? "no exception stream" : "an exception stream") << MiniDumpDetail::Describe(dump);
    }
    if (dump.exception &&
        std::find(dump.threadIds.begin(), dump.threadIds.end(), dump.exception->threadId) == dump.threadIds.end()) {
        return ::testing::AssertionFailure() << "the exception's thread " << dump.exception->threadId
                                             << " is not in the thread list" << MiniDumpDetail::Describe(dump);
    }
    return ::testing::AssertionSuccess();
}

} // namespace QxWineTest
