// A product installed on the doubles with both fake event libraries in its folder, and a recording
// logger in place: the starting point of the reporter chain and event sink tests.
#pragma once

#include "FakeEventLibraries.h"
#include "LoggedPlatformTest.h"

namespace Qx::Testing {

inline constexpr const wchar_t* kRoot = L"SOFTWARE\\Velquor\\Product";
inline constexpr const wchar_t* kInstallPath = L"C:\\Velquor\\";
inline constexpr const wchar_t* kReporterPath = L"C:\\Velquor\\QxEventReporter.dll";
inline constexpr const wchar_t* kAgentPath = L"C:\\Velquor\\QxEventAgentClient.dll";

class FakeProductTest : public LoggedPlatformTest {
protected:
    FakeProductTest()
    {
        EventLibraries().Reset();
        platform.registry.SetString(kRoot, L"ProductInstallPath", kInstallPath);
        reporterLibrary = &AddFakeEventReporter(platform.libraries, kReporterPath);
        agentLibrary = &AddFakeEventAgent(platform.libraries, kAgentPath);
    }

    FakeModule* reporterLibrary = nullptr;
    FakeModule* agentLibrary = nullptr;
};

} // namespace Qx::Testing
