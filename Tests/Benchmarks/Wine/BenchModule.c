/* The trivial service module of the benchmarks: both exports return at once, so a service that
 * hosts copies of it costs what the hosting costs. The benchmark copies it under many names. */
#include "QxServiceModule.h"

/* The SDK declares the flags writable; this module leaves them as they are. */
QX_MODULE_API HRESULT SmInitialize(uint32_t* moduleFlags) /* NOLINT(readability-non-const-parameter) */
{
    (void)moduleFlags;
    return S_OK;
}

QX_MODULE_API void SmShutdown(void) {}
