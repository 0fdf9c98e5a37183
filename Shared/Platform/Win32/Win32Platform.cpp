// Win32 only: the platform services of the product build.
#include "Platform/Win32/WindowsSupport.h"

namespace Qx::Platform {

Services DefaultServices()
{
    static Win32::Win32Registry registry;
    static Win32::Win32Libraries libraries;
    static Win32::Win32Process process;
    static Win32::Win32Text text;
    static Win32::Win32Files files;
    static Win32::Win32Threads threads;
    static Win32::Win32ServiceControl serviceControl;
    static Win32::Win32SelfDefenceDriver selfDefenceDriver;
    static Win32::Win32CrashHandling crashHandling;
    static Win32::Win32Dumps dumps;
    return {&registry, &libraries,      &process,           &text,          &files,
            &threads,  &serviceControl, &selfDefenceDriver, &crashHandling, &dumps};
}

} // namespace Qx::Platform
