// A lazily constructed process-wide instance, built anew after the platform services change.
#pragma once

#include <memory>

#include "Platform/Api/ProcessWide.h"

namespace stdex {

template <class T>
class singleton {
public:
    // Constructs the instance on first use, once, whatever the thread.
    static T& instance()
    {
        static Qx::Platform::ProcessWide<T> object([] { return std::make_unique<T>(); });
        return object.Get();
    }
};

} // namespace stdex
