// The operators' reference names every setting the host and its logger read: each name of the
// configuration table appears in docs/operators.md as a word of its own.
#include "Common/ConfigurationNames.h"

#include <gtest/gtest.h>

#include <cctype>
#include <fstream>
#include <sstream>
#include <string>

namespace {

std::string ReadReference()
{
    const std::ifstream file(QX_OPERATORS_REFERENCE, std::ios::binary);
    std::ostringstream content;
    content << file.rdbuf();
    return content.str();
}

// The names are ASCII.
std::string Narrow(const wchar_t* name)
{
    std::string narrow;
    for (; *name != L'\0'; ++name) {
        narrow += static_cast<char>(*name);
    }
    return narrow;
}

bool IsWordCharacter(char c)
{
    return std::isalnum(static_cast<unsigned char>(c)) != 0 || c == '_';
}

// True when name occurs with no letter, digit or underscore right before or after it, so that
// "ServiceName" is not found inside "ServiceNames" or "MyServiceName".
bool ContainsWord(const std::string& text, const std::string& name)
{
    for (std::size_t at = text.find(name); at != std::string::npos; at = text.find(name, at + 1)) {
        const bool startsWord = at == 0 || !IsWordCharacter(text[at - 1]) || !IsWordCharacter(name.front());
        const std::size_t end = at + name.size();
        const bool endsWord = end == text.size() || !IsWordCharacter(text[end]) || !IsWordCharacter(name.back());
        if (startsWord && endsWord) {
            return true;
        }
    }
    return false;
}

TEST(OperatorsReference, NamesEverySettingTheReadersUse)
{
    const std::string reference = ReadReference();
    ASSERT_FALSE(reference.empty()) << "cannot read " << QX_OPERATORS_REFERENCE;
    for (const ConfigurationNames::Name& entry : ConfigurationNames::kAll) {
        EXPECT_TRUE(ContainsWord(reference, Narrow(entry.name)))
            << Narrow(entry.name) << " is read but not described in " << QX_OPERATORS_REFERENCE;
    }
}

// Wherever the reference gives a record's severity ("`<text>` at <severity>"), it is the one the
// host writes the record with.
TEST(OperatorsReference, GivesRecordsTheSeverityTheHostWrites)
{
    const std::string reference = ReadReference();
    const struct {
        std::string record;
        std::string severity;
    } kRecords[] = {
        {"`Failed to get product's event source name: `", "INFO"},
        {"`Failed to initialize event reporter: `", "INFO"},
        {"`StartServiceCtrlDispatcherW failed Error:1063`", "ERROR"},
        {"`DumpGen template refused: <template>`", "ERROR"},
        {"`DumpGen wrote no dump: <path>`", "ERROR"},
    };
    for (const auto& [record, severity] : kRecords) {
        std::size_t given = 0;
        const std::string at = record + " at ";
        for (std::size_t found = reference.find(at); found != std::string::npos;
             found = reference.find(at, found + 1)) {
            ++given;
            EXPECT_EQ(severity, reference.substr(found + at.size(), severity.size())) << record;
        }
        EXPECT_GT(given, 0u) << record << " is not given a severity";
    }
}

TEST(OperatorsReference, WordSearchNeedsWholeWords)
{
    EXPECT_TRUE(ContainsWord("the `ServiceName` value", "ServiceName"));
    EXPECT_TRUE(ContainsWord("ServiceName", "ServiceName"));
    EXPECT_TRUE(
        ContainsWord("HKLM\\SOFTWARE\\Qx\\QxLogger\\Services\\<service>", "SOFTWARE\\Qx\\QxLogger\\Services\\"));
    EXPECT_FALSE(ContainsWord("ServiceNames", "ServiceName"));
    EXPECT_FALSE(ContainsWord("MyServiceName", "ServiceName"));
    EXPECT_FALSE(ContainsWord("", "ServiceName"));
}

} // namespace
