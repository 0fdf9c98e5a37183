// Files the tests write and read back: CR LF text files and the trace of the test modules.
#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "Platform/Win32/UniqueWin32Handles.h"
#include "TestFiles.h"

namespace Qx::Testing {

using Qx::Platform::UniqueKernelHandle;

// The whole file; a file that cannot be opened fails the test.
inline std::string ReadFileBytes(const std::wstring& path)
{
    std::optional<std::string> content = ReadWholeFile(path);
    if (!content) {
        ADD_FAILURE() << "cannot open " << ToUtf8(path) << ", error " << GetLastError();
        return {};
    }
    return std::move(*content);
}

// Creates the file or empties an existing one, and writes bytes into it.
inline void WriteFileBytes(const std::wstring& path, const std::string& bytes)
{
    const UniqueKernelHandle file(
        CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(file) << "cannot create " << ToUtf8(path) << ", error " << GetLastError();
    DWORD written = 0;
    EXPECT_TRUE(WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr));
    EXPECT_EQ(written, bytes.size());
}

// Lines of a text file whose every line ends in CR LF; a stray CR or LF inside a line fails.
inline std::vector<std::string> SplitCrLfLines(const std::string& content)
{
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < content.size()) {
        const std::size_t end = content.find("\r\n", start);
        if (end == std::string::npos) {
            ADD_FAILURE() << "unterminated last line: " << content.substr(start);
            break;
        }
        lines.push_back(content.substr(start, end - start));
        EXPECT_EQ(lines.back().find_first_of("\r\n"), std::string::npos) << lines.back();
        start = end + 2;
    }
    return lines;
}

inline bool IsNumber(const std::string& text)
{
    return !text.empty() && text.find_first_not_of("0123456789") == std::string::npos;
}

// One line of the trace that the test modules, the test watchdog agent and the test log compressor
// write: "<qpc> <pid> <tid> <module> <event>" (Tests/Wine/TestModules/TestTrace.h).
struct TraceLine {
    long long qpc = 0;
    DWORD processId = 0;
    DWORD threadId = 0;
    std::string module;
    std::string event;
};

// A line without its four leading fields, or with a field that should be a number and is not,
// fails the test.
inline TraceLine ParseTraceLine(const std::string& line)
{
    TraceLine parsed;
    std::vector<std::string> fields;
    std::size_t start = 0;
    for (int field = 0; field < 4; ++field) {
        const std::size_t space = line.find(' ', start);
        if (space == std::string::npos) {
            ADD_FAILURE() << "trace line with too few fields: " << line;
            return parsed;
        }
        fields.push_back(line.substr(start, space - start));
        start = space + 1;
    }
    if (!IsNumber(fields[0]) || !IsNumber(fields[1]) || !IsNumber(fields[2])) {
        ADD_FAILURE() << "trace line without counter, process and thread: " << line;
        return parsed;
    }
    parsed.qpc = std::stoll(fields[0]);
    parsed.processId = static_cast<DWORD>(std::stoul(fields[1]));
    parsed.threadId = static_cast<DWORD>(std::stoul(fields[2]));
    parsed.module = fields[3];
    parsed.event = line.substr(start);
    return parsed;
}

} // namespace Qx::Testing
