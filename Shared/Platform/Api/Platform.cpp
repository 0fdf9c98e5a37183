#include "Platform/Api/Platform.h"

namespace Qx::Platform {

namespace {

Services& Slot()
{
    static Services services = DefaultServices();
    return services;
}

} // namespace

const Services& Current()
{
    return Slot();
}

Services Install(const Services& services)
{
    Services previous = Slot();
    Slot() = services;
    return previous;
}

void RegistryKeyTraits::Close(NativeHandle h)
{
    Registry().CloseKey(h);
}

void ThreadTraits::Close(NativeHandle h)
{
    Threads().CloseHandle(h);
}

void EventTraits::Close(NativeHandle h)
{
    Threads().CloseHandle(h);
}

void LibraryTraits::Close(NativeHandle h)
{
    Libraries().Free(h);
}

} // namespace Qx::Platform
