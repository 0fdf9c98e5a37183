// Where a check stands, so that a helper reports its failure at the test's line. Not
// std::source_location: libstdc++ builds that on a builtin Clang 14 lacks, and the native build and
// clang-tidy compile with Clang 14. The builtins in Here's default arguments take the caller's place.
#pragma once

namespace Qx::Testing {

struct CheckSite {
    const char* file;
    int line;

    static CheckSite Here(const char* file = __builtin_FILE(), int line = __builtin_LINE()) { return {file, line}; }
};

} // namespace Qx::Testing
