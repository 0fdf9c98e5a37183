#include "JsonObject.h"

#include <cwchar>
#include <iterator>

namespace QxServiceCtl {

std::wstring JsonQuoted(std::wstring_view text)
{
    std::wstring quoted = L"\"";
    for (const wchar_t c : text) {
        if (c == L'"' || c == L'\\') {
            quoted += L'\\';
            quoted += c;
        } else if (c < 0x20) {
            wchar_t escaped[8];
            std::swprintf(escaped, std::size(escaped), L"\\u%04x", static_cast<unsigned>(c));
            quoted += escaped;
        } else {
            quoted += c;
        }
    }
    return quoted + L"\"";
}

void JsonObject::Member(std::wstring_view name, const std::wstring& value)
{
    if (!m_members.empty()) {
        m_members += L",";
    }
    m_members += JsonQuoted(name) + L":" + value;
}

void JsonObject::String(std::wstring_view name, const std::optional<std::wstring>& value)
{
    Member(name, value ? JsonQuoted(*value) : L"null");
}

void JsonObject::Number(std::wstring_view name, const std::optional<std::int64_t>& value)
{
    Member(name, value ? std::to_wstring(*value) : L"null");
}

void JsonObject::Bool(std::wstring_view name, bool value)
{
    Member(name, value ? L"true" : L"false");
}

void JsonObject::Strings(std::wstring_view name, const std::vector<std::wstring>& values)
{
    std::wstring list;
    for (const std::wstring& value : values) {
        list += (list.empty() ? L"" : L",") + JsonQuoted(value);
    }
    Member(name, L"[" + list + L"]");
}

void JsonObject::Object(std::wstring_view name, const JsonObject& value)
{
    Member(name, value.Text());
}

void JsonObject::Objects(std::wstring_view name, const std::vector<JsonObject>& values)
{
    std::wstring list;
    for (const JsonObject& value : values) {
        list += (list.empty() ? L"" : L",") + value.Text();
    }
    Member(name, L"[" + list + L"]");
}

} // namespace QxServiceCtl
