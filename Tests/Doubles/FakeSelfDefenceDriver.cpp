#include "FakeSelfDefenceDriver.h"

namespace Qx::Testing {

using namespace Qx::Platform;

HRESULT FakeSelfDefenceDriver::QueryMode(std::uint32_t& answer)
{
    ++queries;
    if (!Failed(result)) {
        answer = mode;
    }
    return result;
}

} // namespace Qx::Testing
