// Win32 file and text helpers of the Wine tests and the test modules. Free of gtest, so that the
// test modules, which are DLLs the host loads, can use them too. The helpers the stand-ins have
// already are taken from them.
#pragma once

#include <windows.h>

#include "Platform/Win32/UniqueWin32Handles.h"
#include "StandInSupport.h"
#include "Win32Support/ModuleFiles.h"
#include "Win32Support/WholeFile.h"
#include "Win32Support/WideText.h"

#include <string>

namespace Qx::Testing {

using Qx::Platform::UniqueFindHandle;
using Qx::Platform::UniqueKernelHandle;
using Qx::Platform::UniqueRegKey;
using Qx::Platform::UniqueServiceHandle;
using Qx::Win32Support::EqualIgnoringCase;
using Qx::Win32Support::ExecutableDirectory;
using Qx::Win32Support::FileExists;
using Qx::Win32Support::ModulePath;
using Qx::Win32Support::ReadWholeFile;
using Qx::Win32Support::ToUtf8;
using QxStandIn::LocalTimeStamp;
using QxStandIn::LogsDirectory;
using QxStandIn::ServiceNameOfProcess;
using QxStandIn::TimeStamp;

// Whether text has the shape of TimeStamp's result.
inline bool IsTimeStamp(const std::string& text)
{
    const std::string pattern = "dddd-dd-dd dd:dd:dd.ddd";
    if (text.size() != pattern.size()) {
        return false;
    }
    for (std::size_t i = 0; i < pattern.size(); ++i) {
        const bool digit = text[i] >= '0' && text[i] <= '9';
        if (pattern[i] == 'd' ? !digit : text[i] != pattern[i]) {
            return false;
        }
    }
    return true;
}

} // namespace Qx::Testing
