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

std::wstring ExecutableFolder()
{
    std::wstring path;
    if (Process().ModuleFileName(nullptr, path) != kErrorSuccess) {
        return {};
    }
    const std::size_t backslash = path.rfind(L'\\');
    return backslash == std::wstring::npos ? std::wstring() : path.substr(0, backslash + 1);
}

} // namespace Qx::Platform
