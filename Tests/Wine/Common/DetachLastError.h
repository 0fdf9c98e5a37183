/* The last error QxTestDetachError.dll sets from its entry point as it is unloaded; shared by the
   library, which is C, and the tests that free it. */
#pragma once

#define QX_TEST_DETACH_ERROR 0xDE7AC4EDu
