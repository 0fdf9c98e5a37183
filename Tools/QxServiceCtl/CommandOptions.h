// What the commands' option parsers share: the walk over the options and the reading of their values.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "CtlArguments.h"
#include "ToolText.h"

namespace QxServiceCtl {

inline ParsedArguments Refuse(std::wstring error)
{
    return {std::nullopt, std::move(error)};
}

// Walks the options after a command's target.
class OptionReader {
public:
    OptionReader(const std::vector<std::wstring>& arguments, std::size_t position)
        : m_arguments(arguments), m_position(position)
    {
    }

    [[nodiscard]] bool Done() const { return m_position >= m_arguments.size(); }
    const std::wstring& Next() { return m_arguments[m_position++]; }
    // The value after an option, or nullopt when the line ends there.
    std::optional<std::wstring> Value()
    {
        if (Done()) {
            return std::nullopt;
        }
        return Next();
    }
    // Every following argument up to the next option.
    std::vector<std::wstring> Values()
    {
        std::vector<std::wstring> values;
        while (!Done() && !m_arguments[m_position].starts_with(L"--")) {
            values.push_back(Next());
        }
        return values;
    }

private:
    const std::vector<std::wstring>& m_arguments;
    std::size_t m_position;
};

inline std::optional<std::uint32_t> ParseSeconds(OptionReader& reader, const wchar_t* option, std::wstring& error)
{
    constexpr std::uint32_t kMostSeconds = 0xFFFFFFFFu / 1000;
    const auto value = reader.Value();
    const auto number = value ? ParseUnsigned(*value) : std::nullopt;
    if (!number || *number > kMostSeconds) {
        error = std::wstring(option) + L" needs a whole number of seconds up to " + std::to_wstring(kMostSeconds) +
                L", not " + Quoted(value.value_or(L""));
        return std::nullopt;
    }
    return number;
}

// The value of an option that takes one of a few words.
template <typename Choice, std::size_t N>
std::optional<Choice> ParseChoice(OptionReader& reader, const wchar_t* option,
                                  const std::array<std::pair<const wchar_t*, Choice>, N>& choices, std::wstring& error)
{
    const auto value = reader.Value();
    for (const auto& [word, choice] : choices) {
        if (value == word) {
            return choice;
        }
    }
    std::wstring words;
    for (const auto& [word, choice] : choices) {
        words += (words.empty() ? L"" : L", ") + std::wstring(word);
    }
    error = std::wstring(option) + L" takes " + words + L", not " + Quoted(value.value_or(L""));
    return std::nullopt;
}

inline std::optional<std::wstring> ParseText(OptionReader& reader, const wchar_t* option, const wchar_t* what,
                                             std::wstring& error)
{
    auto value = reader.Value();
    if (!value) {
        error = std::wstring(option) + L" needs " + what;
    }
    return value;
}

// The argument after the command's name as its target, named as what when it is missing; nullopt when
// it was taken.
std::optional<ParsedArguments> TakeTarget(const std::vector<std::wstring>& arguments, const wchar_t* what,
                                          Command& command);

// Each command reads its arguments from first on, the first after its name or its target.
using ArgumentsParser = ParsedArguments (*)(const std::vector<std::wstring>& arguments, std::size_t first,
                                            Command command);

// install and config.
ParsedArguments ParseSettings(const std::vector<std::wstring>& arguments, std::size_t first, Command command);

// start, stop and restart: a service or, for start and stop, all of this host's.
ParsedArguments ParseLifecycle(const std::vector<std::wstring>& arguments, std::size_t first, Command command);

} // namespace QxServiceCtl
