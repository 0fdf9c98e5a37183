#pragma once

#include <string>

namespace Qx::Testing {

// Compares registry paths and names without regard to ASCII case, as the registry does.
struct CaseInsensitiveLess {
    bool operator()(const std::wstring& a, const std::wstring& b) const;
};

} // namespace Qx::Testing
