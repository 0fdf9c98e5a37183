// The commands of QxServiceCtl, one source each; each returns the process exit code.
#pragma once

#include <string>

#include "CodeText.h"
#include "CtlArguments.h"

namespace QxServiceCtl {

int Install(const std::wstring& service, const InstallOptions& options, bool force);
// Changes the given settings of an installed service of this host in place.
int Config(const std::wstring& service, const ServiceSettings& settings, bool force);
int Uninstall(const std::wstring& service, bool force, bool purge);
int Validate(const std::wstring& service);
int Status(const std::wstring& service, bool json);
int RunModules(const Command& command);
int Explain(const std::wstring& text);
// Writes the product root that is given (the ini beside the host, its registry values and event
// source), then shows it.
int Product(const ProductOptions& options);
// The text of a code: the product's message library for the product's own identifiers, the
// system's for any other; empty when there is none.
std::wstring CodeMessage(const DecodedCode& code);
int Help(CommandKind command);
int Version();

} // namespace QxServiceCtl
