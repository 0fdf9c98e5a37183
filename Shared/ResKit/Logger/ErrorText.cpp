#include "ResKit/Logger/ErrorText.h"

#include <atomic>
#include <cwchar>

#include "ResKit/Logger/LogRecord.h"

using namespace Qx;
using namespace Qx::Platform;

namespace LogUtils {

namespace {

std::atomic<ErrorDescriber> g_errorDescriber{nullptr};

} // namespace

ErrorDescriber InstallErrorDescriber(ErrorDescriber describe)
{
    return g_errorDescriber.exchange(describe);
}

std::wstring ExceptionText(const HRXEx& error)
{
    if (const std::wstring* kept = error.KeptText()) {
        return *kept;
    }
    const ErrorDescriber describe = g_errorDescriber.load();
    std::wstring text = describe != nullptr ? describe(error.Result(), error.ErrorInfo()) : kUndescribedError;
    text += kDiagnosticSeparator;
    text += L"[EIP: ";
    bool anyAddress = false;
    for (void* address : error.Addresses()) {
        if (address == nullptr) {
            break;
        }
        text += FormatPointer(address);
        text += L',';
        anyAddress = true;
    }
    if (anyAddress) {
        text.back() = L']';
    } else {
        text += L']';
    }
    wchar_t code[16];
    std::swprintf(code, std::size(code), L" 0x%X", static_cast<unsigned>(error.Result()));
    text += code;
    error.KeepText(text);
    return text;
}

} // namespace LogUtils
