#include "Common/DumpGenImpl.h"

#include <algorithm>
#include <cwchar>

#include "Common/ConfigurationNames.h"
#include "Common/ProductInfo.h"
#include "Common/RegistryValues.h"
#include "Common/ServiceFileName.h"
#include "ResKit/Logger/FixedTextWriter.h"
#include "ResKit/Logger/LogUtils.h"

using namespace Qx;
using namespace Qx::Platform;

namespace {

// The records carry fixed line numbers, so the dump path reads the same whatever this file becomes.
constexpr int kLineCreateDumpInt = 162;
constexpr int kLineGeneratorResult = 187;
constexpr int kLineGeneratorLaunchFailed = 191;
constexpr int kLineMiniDump = 203;

// The whole value however long, so that an overlong template can be named when it is refused.
// False for a value that is there but no readable REG_SZ (another type, an odd size, no NUL at its
// end): userDump then describes it, in words no template check is asked to accept.
bool ReadUserDump(std::wstring& userDump)
{
    RegistryKey key;
    if (Registry().OpenKey(GetProductInfo().RegistryRoot(), kKeyRead, key) != kErrorSuccess) {
        return true;
    }
    std::uint32_t type = kRegNone;
    std::uint32_t size = 0;
    if (Registry().QueryValue(key.get(), ConfigurationNames::kUserDump, &type, nullptr, &size) != kErrorSuccess ||
        size == 0) {
        return true;
    }
    std::wstring text;
    if (type != kRegSz || size % sizeof(wchar_t) != 0 ||
        ReadTerminatedString(key.get(), ConfigurationNames::kUserDump, size / sizeof(wchar_t), text) != kErrorSuccess) {
        userDump = L"(no REG_SZ of whole characters ending in NUL: type " + std::to_wstring(type) + L")";
        return false;
    }
    userDump = text;
    return true;
}

} // namespace

bool FormatDumpFileName(std::wstring_view baseName, std::uint32_t exceptionCode, const LocalTime& time,
                        unsigned sequence, std::span<wchar_t> buffer)
{
    wchar_t suffix[64];
    FixedTextWriter suffixWriter(suffix);
    suffixWriter.Put(L'_');
    suffixWriter.PutNumber(exceptionCode, 16, true, 8);
    for (const int part : {time.year, time.month, time.day}) {
        suffixWriter.Put(L'_');
        suffixWriter.PutNumber(static_cast<std::uint32_t>(part), 10, false, part == time.year ? 4 : 2);
    }
    suffixWriter.Put(L'_');
    for (const int part : {time.hour, time.minute, time.second}) {
        suffixWriter.Put(L'_');
        suffixWriter.PutNumber(static_cast<std::uint32_t>(part), 10, false, 2);
    }
    if (sequence != 0) {
        suffixWriter.Put(L'_');
        suffixWriter.PutNumber(sequence, 10, false);
    }
    suffixWriter.Put(L".dmp");
    suffixWriter.Finish();
    const std::size_t suffixLength = std::wcslen(suffix);
    if (buffer.size() < suffixLength + 2 || baseName.empty()) {
        return false;
    }
    FixedTextWriter writer(buffer);
    writer.Put(baseName.substr(0, buffer.size() - 1 - suffixLength));
    writer.Put(std::wstring_view(suffix, suffixLength));
    return writer.Finish();
}

DumpGenImpl::DumpGenImpl()
{
    std::wstring executable;
    (void)Process().ModuleFileName(nullptr, executable);
    const std::size_t backslash = executable.rfind(L'\\');
    const std::size_t nameStart = backslash == std::wstring::npos ? 0 : backslash + 1;
    const std::size_t dot = executable.rfind(L'.');
    SetDumpBaseName(
        std::wstring_view(executable)
            .substr(nameStart, dot == std::wstring::npos || dot < nameStart ? std::wstring::npos : dot - nameStart));
    FixedTextWriter tempPath(m_tempPath);
    tempPath.Put(Dumps().TempPath());
    if (!tempPath.Finish()) {
        m_tempPath[0] = L'\0';
    }
    ReadGeneratorSettings(std::wstring_view(executable).substr(0, nameStart));
}

void DumpGenImpl::ReadGeneratorSettings(std::wstring_view executableFolder)
{
    if (!ReadUserDump(m_userDump) || m_userDump.empty()) {
        return;
    }
    m_generator = GeneratorTemplate::Check(m_userDump);
    if (!m_generator) {
        return;
    }
    FixedTextWriter generatorPath(m_generatorPath);
    generatorPath.Put(executableFolder);
    generatorPath.Put(m_generator->Program());
    if (!generatorPath.Finish()) {
        m_generator.reset();
        return;
    }
    m_dumpType = m_generator->DumpType();
}

DumpGenImpl& DumpGenImpl::Instance()
{
    // Never destroyed: a crash during process exit may still need it.
    static DumpGenImpl* instance = new DumpGenImpl();
    return *instance;
}

void DumpGenImpl::SetDumpBaseName(std::wstring_view name)
{
    std::lock_guard lock(m_lock);
    FixedTextWriter writer(m_baseName);
    for (const wchar_t c : ServiceFileName(name)) {
        writer.Put(c);
    }
    writer.Finish();
}

std::wstring DumpGenImpl::BaseName()
{
    std::lock_guard lock(m_lock);
    return m_baseName;
}

bool DumpGenImpl::CreateDump(const ExceptionDescription* exception, std::span<wchar_t> writtenPath,
                             const wchar_t** failure)
{
    // The path is built under the lock, so two threads that crash in the same second still get
    // a file each.
    std::lock_guard lock(m_lock);
    BuildNextDumpPath(exception != nullptr ? exception->code : 0);
    const bool written = CreateDumpInt(exception);
    if (written && !writtenPath.empty()) {
        FixedTextWriter copy(writtenPath);
        copy.Put(std::wstring_view(m_dumpPath));
        copy.Finish();
    }
    if (failure != nullptr) {
        *failure = m_lastFailure;
    }
    return written;
}

void DumpGenImpl::BuildNextDumpPath(std::uint32_t exceptionCode)
{
    const std::size_t folderLength = std::wcslen(m_tempPath);
    std::copy_n(m_tempPath, folderLength, m_dumpPath);
    const std::span<wchar_t> name = std::span(m_dumpPath).subspan(folderLength);
    const LocalTime now = Dumps().Now();
    if (!FormatDumpFileName(m_baseName, exceptionCode, now, 0, name)) {
        m_dumpPath[0] = L'\0';
        return;
    }
    if (std::wcscmp(m_dumpPath, m_lastDumpPath) != 0) {
        std::copy_n(m_dumpPath, kBufferCharacters, m_lastDumpPath);
        m_samePathCount = 0;
        return;
    }
    // A numbered name that does not fit is no name: the unnumbered one would overwrite the last dump.
    ++m_samePathCount;
    if (!FormatDumpFileName(m_baseName, exceptionCode, now, m_samePathCount + 1, name)) {
        m_dumpPath[0] = L'\0';
    }
}

bool DumpGenImpl::RunGenerator(const ExceptionDescription* exception)
{
    const GeneratorArguments arguments{Process().CurrentProcessId(), m_dumpPath,
                                       exception != nullptr ? exception->nativePointers : nullptr,
                                       Process().CurrentThreadId()};
    if (!m_generator || !m_generator->Format(arguments, m_commandLine)) {
        LogUtils::WriteRecordAt(1, LogUtils::kSeverityError, QX_SOURCE_FILE, __LINE__,
                                "DumpGen template refused: ", m_userDump);
        return false;
    }
    std::uint32_t exitCode = 0;
    const Win32Error launch = Dumps().RunProcess(m_generatorPath, m_commandLine, kGeneratorWaitMilliseconds, exitCode);
    if (launch != kErrorSuccess) {
        LogUtils::WriteRecordAt(3, LogUtils::kSeverityDbg, QX_SOURCE_FILE, kLineGeneratorLaunchFailed,
                                "DumpGen launch failed ", launch);
        return false;
    }
    LogUtils::WriteRecordAt(3, LogUtils::kSeverityDbg, QX_SOURCE_FILE, kLineGeneratorResult, "DumpGen result ",
                            exitCode);
    if (exitCode != 0) {
        return false;
    }
    // Whatever the generator says, a dump it did not write is written here.
    if (!Dumps().FileHasData(m_dumpPath)) {
        LogUtils::WriteRecordAt(1, LogUtils::kSeverityError, QX_SOURCE_FILE, __LINE__,
                                "DumpGen wrote no dump: ", static_cast<const wchar_t*>(m_dumpPath));
        return false;
    }
    return true;
}

bool DumpGenImpl::WriteInProcess(const ExceptionDescription* exception)
{
    if (m_dumpPath[0] == L'\0') {
        m_lastFailure = L"the dump path does not fit its buffer";
        return false;
    }
    bool fileCreated = false;
    const bool written =
        Dumps().WriteMiniDump(m_dumpPath, m_dumpType, exception != nullptr ? exception->nativePointers : nullptr,
                              Process().CurrentThreadId(), fileCreated);
    if (fileCreated) {
        LogUtils::WriteRecordAt(3, LogUtils::kSeverityDbg, QX_SOURCE_FILE, kLineMiniDump, "MinidumpWriteDump ",
                                written);
    }
    if (!fileCreated) {
        m_lastFailure = L"the dump file could not be created";
    } else if (!written) {
        m_lastFailure = L"MiniDumpWriteDump failed";
    }
    return written;
}

bool DumpGenImpl::CreateDumpInt(const ExceptionDescription* exception)
{
    std::optional<LogUtils::TimedTraceScope> scope;
    LogUtils::WithoutRaising([&] {
        if (LogUtils::IsLevelEnabled(1)) {
            scope.emplace(LogUtils::LogRecord::Build(1, "CreateDumpInt ", static_cast<const wchar_t*>(m_dumpPath)), 1,
                          QX_SOURCE_FILE, kLineCreateDumpInt);
        }
    });
    bool written = false;
    m_lastFailure = nullptr;
    // Whatever the generator step throws, the dump is still written in process.
    LogUtils::WithoutRaising([&] { written = !m_userDump.empty() && RunGenerator(exception); });
    if (!written) {
        written = WriteInProcess(exception);
    }
    if (!written && scope) {
        scope->Fail();
    }
    return written;
}

LogUtils::CrashDumpResult WriteCrashDump(const ExceptionDescription* exception)
{
    // The crash handlers write one dump a process. Its path is kept apart from the instance, whose
    // buffers a worker's dump may take as soon as this one is written.
    static wchar_t path[DumpGenImpl::kBufferCharacters];
    const wchar_t* failure = nullptr;
    if (DumpGenImpl::Instance().CreateDump(exception, path, &failure)) {
        return {path, nullptr};
    }
    return {nullptr, failure};
}
