// The platform services the host's logic uses, as small interfaces, one header per concern; this
// header gathers them and holds the set in use.
//
// The Win32 layer (Platform/Win32) implements them over the real APIs and is the product;
// the test doubles (Tests/Doubles) implement the same interfaces so the logic builds and is
// unit-tested on Linux. Nothing here includes <windows.h>.
//
// Conventions: operations that can fail return a Win32 error code or an HRESULT marked
// [[nodiscard]], and leave their out-parameters untouched on failure unless stated. None of
// them throws; raising HRXEx is the logic's decision.
#pragma once

#include <optional>
#include <string>

#include "Platform/Api/CrashHandling.h"
#include "Platform/Api/Dumps.h"
#include "Platform/Api/Files.h"
#include "Platform/Api/Libraries.h"
#include "Platform/Api/Process.h"
#include "Platform/Api/Registry.h"
#include "Platform/Api/SelfDefenceDriver.h"
#include "Platform/Api/ServiceControl.h"
#include "Platform/Api/Text.h"
#include "Platform/Api/Threads.h"

namespace Qx::Platform {

struct Services {
    IRegistry* registry = nullptr;
    ILibraries* libraries = nullptr;
    IProcess* process = nullptr;
    IText* text = nullptr;
    IFiles* files = nullptr;
    IThreads* threads = nullptr;
    IServiceControl* serviceControl = nullptr;
    ISelfDefenceDriver* selfDefenceDriver = nullptr;
    ICrashHandling* crashHandling = nullptr;
    IDumps* dumps = nullptr;
};

// The implementation linked into the binary: Win32 in the product, doubles in native tests.
Services DefaultServices();

// The services in use; tests replace them and restore the previous set afterwards.
const Services& Current();
// Replaces the services in use and gives the previous set; refused (nullopt, nothing changed)
// once the set is frozen.
std::optional<Services> Install(const Services& services);
// Makes the services in use final for the rest of the process. The host's entry point freezes
// them before anything else runs, so in the product the set never changes.
void FreezeServices();

inline IRegistry& Registry()
{
    return *Current().registry;
}
inline ILibraries& Libraries()
{
    return *Current().libraries;
}
inline IProcess& Process()
{
    return *Current().process;
}
inline IText& Text()
{
    return *Current().text;
}
inline IFiles& Files()
{
    return *Current().files;
}
inline IThreads& Threads()
{
    return *Current().threads;
}
inline IServiceControl& ServiceControl()
{
    return *Current().serviceControl;
}
inline ISelfDefenceDriver& SelfDefenceDriver()
{
    return *Current().selfDefenceDriver;
}
inline ICrashHandling& CrashHandling()
{
    return *Current().crashHandling;
}
inline IDumps& Dumps()
{
    return *Current().dumps;
}

// The folder of the process executable with its final backslash; empty when it is unknown, so
// that a library meant to sit beside the host is never looked up by its bare name instead.
std::wstring ExecutableFolder();

} // namespace Qx::Platform
