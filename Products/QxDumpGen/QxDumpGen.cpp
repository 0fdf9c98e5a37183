// QxDumpGen.exe: the product's external dump generator, as QxServiceHost starts it when the
// "UserDump" value names it. Writes a minidump of another process, with the exception that the
// process is crashing on when it passes the address of its exception pointers. The accepted command
// line and the exit codes are in README.md beside this file.
#include <windows.h>

#include <dbghelp.h>
#include <shellapi.h>

#include <cstdio>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "Platform/Win32/UniqueWin32Handles.h"
#include "StandInSupport.h"

namespace {

// One code per way to fail; the host takes anything but 0 as "no dump" and writes one itself.
enum ExitCode : int {
    kDumpWritten = 0,
    kBadArguments = 1,
    kProcessNotOpened = 2,
    kFileNotCreated = 3,
    kDumpNotWritten = 4,
};

constexpr const char* kUsage =
    "usage: QxDumpGen.exe <pid> <dump path> <exception pointers> <thread id> /m <dump type>\n"
    "  pid, thread id, dump type: decimal; exception pointers: hexadecimal address in the\n"
    "  dumped process, 0 for none; a dump path with spaces in double quotes\n";

// The MINIDUMP_TYPE flags this program knows: every bit up to and including MiniDumpFilterTriage
// (0x00100000), that is 0x001FFFFF. MiniDumpWithAvxXStateContext (0x00200000) and the later ones are
// not among them.
constexpr DWORD kKnownDumpTypeFlags = 2 * MiniDumpFilterTriage - 1;

struct Request {
    DWORD processId = 0;
    std::wstring dumpPath;
    ULONG_PTR exceptionPointers = 0;
    DWORD threadId = 0;
    DWORD dumpType = 0;
};

using Qx::Platform::UniqueKernelHandle;

bool IsBlank(wchar_t c)
{
    return c == L' ' || c == L'\t';
}

// Every double quote opens a word or closes the one it opened, and each one opened is closed, read
// as CommandLineToArgvW reads them: a quote after an odd number of backslashes is part of the word.
// CommandLineToArgvW would join text glued to a quoted part ("C:\x.dmp"x, C:\a" "b.dmp) and end a
// quote left open at the end of the line without a trace; such a command line is refused instead.
bool QuotesDelimitWords(std::wstring_view commandLine)
{
    bool quoted = false;
    std::size_t backslashes = 0;
    for (std::size_t at = 0; at < commandLine.size(); ++at) {
        if (commandLine[at] == L'\\') {
            ++backslashes;
            continue;
        }
        const bool literal = backslashes % 2 == 1;
        const bool startsWord = backslashes == 0 && (at == 0 || IsBlank(commandLine[at - 1]));
        backslashes = 0;
        if (commandLine[at] != L'"' || literal) {
            continue;
        }
        const bool endsWord = at + 1 == commandLine.size() || IsBlank(commandLine[at + 1]);
        if (quoted ? !endsWord : !startsWord) {
            return false;
        }
        quoted = !quoted;
    }
    return !quoted;
}

// The words after the program's own name, which CommandLineToArgvW always gives first.
std::optional<std::vector<std::wstring>> SplitArguments(const wchar_t* commandLine)
{
    int count = 0;
    wchar_t** const arguments = QuotesDelimitWords(commandLine) ? CommandLineToArgvW(commandLine, &count) : nullptr;
    if (arguments == nullptr) {
        return std::nullopt;
    }
    std::vector<std::wstring> words(arguments + 1, arguments + count);
    LocalFree(arguments);
    return words;
}

// ASCII digits only: a sign or a digit of another script (U+FF12, say) is no number here, and a value
// past 32 bits is refused before it can wrap.
std::optional<DWORD> ParseDecimal(std::wstring_view text)
{
    if (text.empty()) {
        return std::nullopt;
    }
    DWORD value = 0;
    for (const wchar_t c : text) {
        if (c < L'0' || c > L'9') {
            return std::nullopt;
        }
        const auto digit = static_cast<DWORD>(c - L'0');
        if (value > (MAXDWORD - digit) / 10) {
            return std::nullopt;
        }
        value = value * 10 + digit;
    }
    return value;
}

// An unknown flag is refused like a malformed number, before anything is opened, rather than passed
// on to dbghelp, whose answer to it this program cannot foresee.
std::optional<DWORD> ParseDumpType(std::wstring_view text)
{
    const std::optional<DWORD> dumpType = ParseDecimal(text);
    if (!dumpType || (*dumpType & ~kKnownDumpTypeFlags) != 0) {
        return std::nullopt;
    }
    return dumpType;
}

// The host writes a pointer as 16 hexadecimal digits; other templates may write "0x" before them.
std::optional<ULONG_PTR> ParseAddress(std::wstring_view text)
{
    if (text.starts_with(L"0x") || text.starts_with(L"0X")) {
        text.remove_prefix(2);
    }
    if (text.empty() || text.size() > 2 * sizeof(ULONG_PTR)) {
        return std::nullopt;
    }
    ULONG_PTR value = 0;
    for (const wchar_t c : text) {
        unsigned digit = 0;
        if (c >= L'0' && c <= L'9') {
            digit = static_cast<unsigned>(c - L'0');
        } else if (c >= L'a' && c <= L'f') {
            digit = static_cast<unsigned>(c - L'a') + 10;
        } else if (c >= L'A' && c <= L'F') {
            digit = static_cast<unsigned>(c - L'A') + 10;
        } else {
            return std::nullopt;
        }
        value = value * 16 + digit;
    }
    return value;
}

// Four words in the host's order, and "/m" with the dump type anywhere among them.
std::optional<Request> ParseRequest(const std::vector<std::wstring>& words)
{
    std::vector<std::wstring_view> positional;
    std::optional<DWORD> dumpType;
    for (std::size_t i = 0; i < words.size(); ++i) {
        if (words[i] != L"/m") {
            positional.emplace_back(words[i]);
            continue;
        }
        if (dumpType || ++i == words.size()) {
            return std::nullopt;
        }
        dumpType = ParseDumpType(words[i]);
        if (!dumpType) {
            return std::nullopt;
        }
    }
    if (!dumpType || positional.size() != 4 || positional[1].empty()) {
        return std::nullopt;
    }
    const auto processId = ParseDecimal(positional[0]);
    const auto exceptionPointers = ParseAddress(positional[2]);
    const auto threadId = ParseDecimal(positional[3]);
    if (!processId || !exceptionPointers || !threadId) {
        return std::nullopt;
    }
    return Request{*processId, std::wstring(positional[1]), *exceptionPointers, *threadId, *dumpType};
}

int Fail(int exitCode, const char* call, DWORD error)
{
    std::fprintf(stderr, "QxDumpGen: %s failed: %lu (0x%08lX)\n", call, error, error);
    return exitCode;
}

int WriteDump(const Request& request)
{
    const UniqueKernelHandle process(
        OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ | PROCESS_DUP_HANDLE, FALSE, request.processId));
    if (!process) {
        return Fail(kProcessNotOpened, "OpenProcess", GetLastError());
    }
    bool written = false;
    DWORD error = ERROR_SUCCESS;
    {
        const UniqueKernelHandle file(CreateFileW(request.dumpPath.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                                  CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!file) {
            return Fail(kFileNotCreated, "CreateFileW", GetLastError());
        }
        // The pointers are an address in the crashing process, which dbghelp reads from there.
        MINIDUMP_EXCEPTION_INFORMATION exception{
            request.threadId, reinterpret_cast<EXCEPTION_POINTERS*>(request.exceptionPointers), TRUE};
        written = MiniDumpWriteDump(process.get(), request.processId, file.get(),
                                    static_cast<MINIDUMP_TYPE>(request.dumpType),
                                    request.exceptionPointers != 0 ? &exception : nullptr, nullptr, nullptr) != FALSE;
        error = GetLastError();
    }
    if (!written) {
        // A file at the dump path always holds a whole dump; the host writes its own into the same
        // path when this one fails.
        DeleteFileW(request.dumpPath.c_str());
        return Fail(kDumpNotWritten, "MiniDumpWriteDump", error);
    }
    return kDumpWritten;
}

} // namespace

int wmain()
{
    const auto words = SplitArguments(GetCommandLineW());
    const auto request = words ? ParseRequest(*words) : std::nullopt;
    if (!request) {
        std::fputs(kUsage, stderr);
        return kBadArguments;
    }
    return WriteDump(*request);
}
