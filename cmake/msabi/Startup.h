// Shared by the entry points of DLLs and programs.
#pragma once

typedef void(__cdecl* Initializer)(void);

// The C++ initialisers of the image, in the order the linker laid them out.
void QxMsAbiRunInitializers(void);
// The functions registered with atexit, the last registered first.
void QxMsAbiRunExitFunctions(void);
