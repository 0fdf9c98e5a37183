// Crash capture: the process-wide crash handlers, and the first-chance log of every exception.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "Platform/Api/Platform.h"

namespace LogUtils {

// What became of one crash dump: the file written, or why none was.
struct CrashDumpResult {
    const wchar_t* path = nullptr; // null when no dump was written
    const wchar_t* failure = nullptr;
};

// Writes the crash dump of exception (null: a dump without exception). It runs inside a crashing
// process: it must not rely on the heap.
using CrashDumpWriter = CrashDumpResult (*)(const Qx::Platform::ExceptionDescription* exception);

// Installs, once for the platform services in use, the terminate and SIGABRT handlers, the invalid-parameter handler,
// the unhandled-exception filter (chaining to the one it replaces) and the heap-corruption handler, each of which
// writes one crash dump through writeDump; and an exit-time action that takes them down again. One crash gives one
// dump, however many of the handlers it passes through. The dump writer belongs to a layer above this one, so the
// start-up sequence hands it in; a later call keeps the first writer.
// Each crash also leaves one ERROR record at level 1 (FormatCrashRecord). The unhandled-exception
// filter gives a filter that replaced it and was put behind it again (ReassertCrashFilter) its turn
// after the dump.
void InstallCrashHandlers(CrashDumpWriter writeDump);

// After code of a module has run (its SmInitialize, its SmShutdown, a thread of its own): when
// something has replaced the host's unhandled-exception filter with one of its own, as crash
// reporters and runtimes do, the host's goes in front again and the other is called after the
// dump is written. Logs that at level 1 as a warning naming the image of that filter.
void ReassertCrashFilter();

// The crash record's text, written into buffer without allocating: the exception code, where it
// happened ("<file>+0x<offset>", "0x<address> outside any module", or for a thrown C++ object its
// type and the module that threw it), the thread, and the dump's path or why none was written.
// No exception: std::terminate or abort(). False when the text was cut to fit.
bool FormatCrashRecord(const Qx::Platform::ExceptionDescription* exception, std::uint32_t threadId,
                       const CrashDumpResult& dump, std::span<wchar_t> buffer);

// The record's part that says where: " at <file>+0x<offset>", " at 0x<address> outside any module"
// or ": C++ exception <type> thrown in <file>". False when the text was cut to fit.
bool FormatCrashSite(const Qx::Platform::ExceptionDescription& exception, std::span<wchar_t> buffer);

// The first-chance handler registered by the module log: one record per exception raised in
// the process, thrown C++ objects with their type. Never handles the exception.
std::int32_t LogExceptionHandler(const Qx::Platform::ExceptionDescription& exception);

// The text of LogExceptionHandler's record after "*** Exception: ".
std::wstring ExceptionRecordText(const Qx::Platform::ExceptionDescription& exception);

} // namespace LogUtils
