// The commands of QxServiceCtl, one source each; each returns the process exit code.
#pragma once

#include <string>

#include "CodeText.h"
#include "CtlArguments.h"

namespace QxServiceCtl {

int Install(const std::wstring& service, const InstallOptions& options, bool force);
// Changes the given settings of an installed service of this host in place, or shows them all when
// none is given.
int Config(const Command& command);
int Uninstall(const std::wstring& service, bool force, bool purge);
int Validate(const std::wstring& service);
int Status(const std::wstring& service, bool json);
// start, stop and restart.
int Lifecycle(const Command& command);
int List(bool json);
int RunModules(const Command& command);
int Explain(const std::wstring& text);
// Writes the product root that is given (the ini beside the host, its registry values and event
// source), then shows it.
int Product(const ProductOptions& options);
// The text of a code: the product's message library for the product's own identifiers, the
// system's for any other; empty when there is none.
std::wstring CodeMessage(const DecodedCode& code);
// A service's exit code in words: "0x00000435, Win32 error 1077: never started".
std::wstring ExitCodeText(std::uint32_t value);
int Help(CommandKind command);
int Version();

} // namespace QxServiceCtl
