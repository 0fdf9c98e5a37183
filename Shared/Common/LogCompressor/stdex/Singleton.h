// A lazily constructed process-wide instance.
#pragma once

namespace stdex {

template <class T>
class singleton {
public:
    // Constructs the instance on first use, once, whatever the thread.
    static T& instance()
    {
        static T object;
        return object;
    }
};

} // namespace stdex
