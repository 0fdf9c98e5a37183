#include "FakePlatform.h"

#include <optional>
#include <stdexcept>

#include "RecordingLogger.h"

namespace Qx::Testing {

namespace {

Platform::Services InstallOrThrow(const Platform::Services& services)
{
    std::optional<Platform::Services> previous = Platform::Install(services);
    if (!previous) {
        throw std::logic_error("the platform services are frozen: a test cannot install its doubles");
    }
    return *previous;
}

} // namespace

FakePlatform::FakePlatform()
    : m_previous(InstallOrThrow({&registry, &libraries, &process, &text, &files, &threads, &serviceControl,
                                 &selfDefenceDriver, &crashHandling, &dumps}))
{
    AddFakeLoggerLibrary(libraries);
}

FakePlatform::~FakePlatform()
{
    // The service thread runs on these doubles until it ends.
    serviceControl.JoinServiceThread();
    (void)Install(m_previous);
}

} // namespace Qx::Testing

namespace Qx::Platform {

// Process-wide objects built before a test installs its own doubles use this quiet set.
Services DefaultServices()
{
    static Testing::FakeRegistry registry;
    static Testing::FakeLibraries libraries;
    static Testing::FakeProcess process;
    static Testing::FakeText text;
    static Testing::FakeFiles files;
    static Testing::FakeThreads threads;
    static Testing::FakeServiceControl serviceControl;
    static Testing::FakeSelfDefenceDriver selfDefenceDriver;
    static Testing::FakeCrashHandling crashHandling;
    static Testing::FakeDumps dumps;
    return {&registry, &libraries,      &process,           &text,          &files,
            &threads,  &serviceControl, &selfDefenceDriver, &crashHandling, &dumps};
}

} // namespace Qx::Platform
