// The form a service name takes in the names of the files written for the service: its module log
// "<name>(<pid>).log", its dumps "<name>_<code>_<time>.dmp" and the like.
#pragma once

#include <string>
#include <string_view>

// A control character, "*<>?| or a path character \/: : what no file name can hold.
bool IsRefusedInFileName(wchar_t c);

// Whether Windows takes a file name for a device: when its part before the first dot, trailing
// spaces dropped, is CON, PRN, AUX, NUL, CONIN$, CONOUT$, or COM or LPT followed by one digit
// (0 to 9, or a superscript 1, 2 or 3), in any case. "COM1.log" and "CON .txt" are devices.
bool IsDeviceFileName(std::wstring_view fileName);

// The service name as its files' names begin:
// - a character no file name can hold (a control character, "*<>?| and the path characters
//   \/: ) becomes "_";
// - a name with a dot whose part before it Windows takes for a device gets "_" after the device
//   name ("CON.txt" becomes "CON_.txt"), since the files' names keep that part: "CON.txt(12).log"
//   would be the console. Without a dot the part is followed by "(" or "_" and is no device.
// Every other name stays as it is.
std::wstring ServiceFileName(std::wstring_view serviceName);
