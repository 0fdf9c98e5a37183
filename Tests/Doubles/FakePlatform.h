// The test doubles of every platform interface, one header each, and a fixture helper that installs a
// fresh set.
#pragma once

#include "FakeCrashHandling.h"
#include "FakeDumps.h"
#include "FakeFiles.h"
#include "FakeLibraries.h"
#include "FakeProcess.h"
#include "FakeRegistry.h"
#include "FakeSelfDefenceDriver.h"
#include "FakeServiceControl.h"
#include "FakeText.h"
#include "FakeThreads.h"
#include "Platform/Api/Platform.h"

namespace Qx::Testing {

// A fresh set of doubles, installed for the lifetime of the object.
class FakePlatform {
public:
    FakePlatform();
    FakePlatform(const FakePlatform&) = delete;
    FakePlatform& operator=(const FakePlatform&) = delete;
    ~FakePlatform();

    FakeRegistry registry;
    FakeLibraries libraries;
    FakeProcess process;
    FakeText text;
    FakeFiles files;
    FakeThreads threads;
    FakeServiceControl serviceControl;
    FakeSelfDefenceDriver selfDefenceDriver;
    FakeCrashHandling crashHandling;
    FakeDumps dumps;

private:
    Platform::Services m_previous;
};

} // namespace Qx::Testing
