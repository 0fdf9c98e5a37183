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
    JsonObject inner;
    inner.Bool(L"on", false);
    object.Object(L"inner", inner);
    object.Objects(L"rows", {inner, inner});
    object.Objects(L"none", {});
    EXPECT_EQ(L"{\"path\":\"C:\\\\Logs\\\\a\\\"b\\\".log\",\"none\":null,\"code\":-2147024894,\"pid\":null,"
              L"\"ended\":true,\"lines\":[\"tab\\u0009here\",\"\\u001f\"],\"empty\":[],\"inner\":{\"on\":false},"
              L"\"rows\":[{\"on\":false},{\"on\":false}],\"none\":[]}",
              object.Text());
}
