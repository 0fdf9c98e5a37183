// The texts of codes: the product's message library beside the tool and the system's message tables.
#pragma once

#include <cstdint>
#include <string>

#include "CodeText.h"

namespace QxServiceCtl {

// The text of message id of the message library beside the tool; empty when it holds none.
std::wstring MessageText(std::uint32_t id);

// The text of an NTSTATUS in ntdll's message table; empty when it holds none.
std::wstring SystemStatusText(std::uint32_t status);

// The text of a code: the product's message library for the product's own identifiers, the
// system's for any other; empty when there is none.
std::wstring CodeMessage(const DecodedCode& code);

// A service's exit code in words: "0x00000435, Win32 error 1077: never started".
std::wstring ExitCodeText(std::uint32_t value);

} // namespace QxServiceCtl
