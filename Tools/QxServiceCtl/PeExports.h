// The export names of a 64-bit PE image, read from its file bytes: nothing of it is loaded, so
// none of its code runs.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace QxServiceCtl {

struct PeExports {
    // The file is an image for this process's machine (x64); others fail to load with error 193.
    bool loadable = false;
    std::vector<std::string> names;
};

// nullopt when the bytes are no PE image or a structure reaches past their end.
std::optional<PeExports> ReadPeExports(std::string_view image);

} // namespace QxServiceCtl
