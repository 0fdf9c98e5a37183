// The process entry of QxServiceHost, apart from the Win32 WinMain that calls it.
#pragma once

#include <string>

// Start-up initialisation: every process-wide object the host needs, in its fixed order.
// Runs once, on the main thread, before the entry.
void RunStartupInitialization();

// The body of WinMain: logs and applies the parameters of the argument string (the command line
// after the program name), recognises the registration switches in the whole process command
// line, and otherwise runs the service. Returns the process exit code.
int RunServiceHostEntry(const wchar_t* arguments);

// Applies the service-name rule to one parameter: a parameter named "name" sets up the module
// log, the service name and the configuration. Raises HRXEx(E_INVALIDARG) for a missing, blank
// or overlong value, and the configuration's HRXEx when it cannot be loaded.
void ApplyServiceNameRule(const std::wstring& parameter);
