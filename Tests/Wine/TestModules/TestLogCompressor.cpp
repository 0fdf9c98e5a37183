// QxTestLogCompressor.dll: a log compressor that compresses nothing and traces its two calls (see
// TestTrace.h) as
//     <qpc> <pid> <tid> QxTestLogCompressor Initialize
//     <qpc> <pid> <tid> QxTestLogCompressor Shutdown
// under this fixed name, since a test puts it in place as QxLogCompr.dll. The host logs nothing when
// it unloads the compressor, so these lines are what shows when that happened.
#include <windows.h>

#include "TestTrace.h"

namespace {

constexpr const wchar_t* kTraceName = L"QxTestLogCompressor";

} // namespace

extern "C" __declspec(dllexport) HRESULT Initialize()
{
    Qx::Testing::Trace(kTraceName, "Initialize");
    return S_OK;
}

extern "C" __declspec(dllexport) void Shutdown()
{
    Qx::Testing::Trace(kTraceName, "Shutdown");
}
