#include "JsonObject.h"

#include <gtest/gtest.h>

using namespace QxServiceCtl;

TEST(JsonObject, MembersInOrderWithEveryStringEscaped)
{
    JsonObject object;
    object.String(L"path", L"C:\\Logs\\a\"b\".log");
    object.String(L"none", std::optional<std::wstring>());
    object.Number(L"code", -2147024894);
    object.Number(L"pid", std::optional<std::int64_t>());
    object.Bool(L"ended", true);
    object.Strings(L"lines", {L"tab\there", L"\x1f"});
    object.Strings(L"empty", {});
    EXPECT_EQ(L"{\"path\":\"C:\\\\Logs\\\\a\\\"b\\\".log\",\"none\":null,\"code\":-2147024894,\"pid\":null,"
              L"\"ended\":true,\"lines\":[\"tab\\u0009here\",\"\\u001f\"],\"empty\":[]}",
              object.Text());
}
