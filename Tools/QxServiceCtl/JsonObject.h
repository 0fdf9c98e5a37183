// One JSON object, written member by member in the order given, for scripts that read the tool's
// output.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace QxServiceCtl {

// The version of every object the tool prints. 2: status's failedModule, failure and pending entry;
// 3: status's startType and modules, config and list.
inline constexpr std::int64_t kJsonSchemaVersion = 3;

class JsonObject {
public:
    // Each value is null when it is empty.
    void String(std::wstring_view name, const std::optional<std::wstring>& value);
    void Number(std::wstring_view name, const std::optional<std::int64_t>& value);
    void Bool(std::wstring_view name, bool value);
    void Strings(std::wstring_view name, const std::vector<std::wstring>& values);
    void Object(std::wstring_view name, const JsonObject& value);
    void Objects(std::wstring_view name, const std::vector<JsonObject>& values);

    // The object on one line.
    [[nodiscard]] std::wstring Text() const { return L"{" + m_members + L"}"; }

private:
    void Member(std::wstring_view name, const std::wstring& value);

    std::wstring m_members;
};

// A JSON string: quotes, backslashes and control characters escaped.
std::wstring JsonQuoted(std::wstring_view text);

} // namespace QxServiceCtl
