#pragma once

#include <atomic>
#include <cstdint>

#include "Platform/Api/Platform.h"

namespace Qx::Testing {

// Answers the mode it is given, or a failure as if the device were missing.
class FakeSelfDefenceDriver final : public Platform::ISelfDefenceDriver {
public:
    static constexpr HRESULT kDeviceMissing = static_cast<HRESULT>(0xD0000034u);

    std::atomic<HRESULT> result{kDeviceMissing};
    std::atomic<std::uint32_t> mode{0};
    std::atomic<int> queries{0};

    HRESULT QueryMode(std::uint32_t& answer) override;
};

} // namespace Qx::Testing
