// The log text of an exception: its description in the product's language and where it was raised.
#pragma once

#include <string>

#include "Platform/Api/HResult.h"
#include "ResKit/Logger/HRXEx.h"

namespace LogUtils {

// Separates the readable part of an exception text from its diagnostic suffix.
inline constexpr wchar_t kDiagnosticSeparator = L'\x7F';

// Describes a failure in the product's UI language. The texts come from the message libraries,
// which the logging layer does not know; the start-up sequence installs the describer.
using ErrorDescriber = std::wstring (*)(HRESULT hr, const Qx::Platform::ErrorInfo& errorInfo);

// Text of an exception whose failure nobody can describe: no describer is installed.
inline constexpr const wchar_t* kUndescribedError = L"<Unknown error>";

// Installs describe for every exception text from now on (null removes it) and returns the
// previous one. Without one, the description is kUndescribedError and the thread's COM error
// information is left as it is.
ErrorDescriber InstallErrorDescriber(ErrorDescriber describe);

// The exception's log text: its description, U+007F, "[EIP: " addresses "]" and " 0x%X".
std::wstring ExceptionText(const HRXEx& error);

} // namespace LogUtils
