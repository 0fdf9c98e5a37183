// The calls a fake library's exports record, under a lock: the exports run on the host's threads
// while the test reads them.
#pragma once

#include <mutex>
#include <string>
#include <vector>

namespace Qx::Testing {

template <class Call>
struct RecordedCalls {
    std::mutex lock;
    std::vector<Call> calls;

    [[nodiscard]] std::vector<Call> Calls()
    {
        std::lock_guard guard(lock);
        return calls;
    }

    [[nodiscard]] std::vector<std::string> Names()
    {
        std::lock_guard guard(lock);
        std::vector<std::string> names;
        for (const Call& call : calls) {
            names.push_back(call.name);
        }
        return names;
    }
};

} // namespace Qx::Testing
