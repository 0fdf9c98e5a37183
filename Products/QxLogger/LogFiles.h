// The names of the log files in the Logs folder: whose a file is, the name a full file rotates to,
// and which of a service's files go when it has too many.
#pragma once

#include <windows.h>

#include <string>
#include <string_view>

namespace QxLogger {

// "<service>(<pid>).log" gives the service; a name of another form gives none.
std::wstring ServiceOfLogName(std::wstring_view logName);

// Deletes all but the newest `keep` files of the service's log in folder; the current file always
// stays and counts among them. keep 0 deletes nothing. A file that cannot be deleted (still open
// without delete sharing, say) simply stays.
void PruneLogs(const std::wstring& folder, const std::wstring& service, const std::wstring& currentPath, DWORD keep);

// "Foo(12).log" becomes "Foo(12).<n>.log" with the smallest n that is not taken.
std::wstring FreeRotationPath(const std::wstring& path);

} // namespace QxLogger
