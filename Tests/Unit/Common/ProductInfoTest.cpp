#include "Common/ProductInfo.h"

#include <gtest/gtest.h>

#include "FakePlatform.h"

using namespace Qx;
using namespace Qx::Testing;

namespace {

constexpr const wchar_t* kIni = L"C:\\Qx\\ProductInfo2.ini";
constexpr const wchar_t* kRoot = L"SOFTWARE\\Velquor\\Product";

class ProductInfoTest : public ::testing::Test {
protected:
    void SetIni(const std::wstring& key, const std::wstring& value)
    {
        platform.files.profileValues[std::wstring(kIni) + L"|ProductInfo|" + key] = value;
    }

    FakePlatform platform;
};

TEST_F(ProductInfoTest, SettingsFileSitsBesideTheExecutable)
{
    EXPECT_EQ(ProductInfo::FilePathBeside(L"C:\\Qx\\QxServiceHost.exe"), kIni);
    EXPECT_EQ(ProductInfo::FilePathBeside(L"QxServiceHost.exe"), L"ProductInfo2.ini");
}

TEST_F(ProductInfoTest, MissingFileGivesTheDefaults)
{
    const ProductInfo info = ProductInfo::ReadFile(kIni);
    EXPECT_EQ(info.RegistryRoot(), L"");
    EXPECT_EQ(info.MessageFile(), L"QxMessages.dll");
    EXPECT_EQ(info.AuditMessageFile(), L"");
    EXPECT_EQ(info.EventLogName(), L"Application");
    EXPECT_EQ(platform.files.profileReads, 0) << "a missing file is not searched for once per value";

    platform.libraries.Add(L"QxMessages.dll");
    EXPECT_TRUE(info.LoadMessageModule()) << "without a registry root the bare name is loaded";
    EXPECT_EQ(platform.libraries.LoadedPaths(), std::vector<std::wstring>{L"QxMessages.dll"});
}

TEST_F(ProductInfoTest, ValuesAreCutTo259Characters)
{
    SetIni(L"RegistryRoot", std::wstring(300, L'r'));
    SetIni(L"EventLogName", L"Qx");
    const ProductInfo info = ProductInfo::ReadFile(kIni);
    EXPECT_EQ(info.RegistryRoot().size(), 259u);
    EXPECT_EQ(info.EventLogName(), L"Qx");
}

TEST_F(ProductInfoTest, MessageLibraryComesFromTheInstallPath)
{
    SetIni(L"RegistryRoot", kRoot);
    platform.libraries.Add(L"QxMessages.dll");
    EXPECT_FALSE(ProductInfo::ReadFile(kIni).LoadMessageModule())
        << "a registry root without its key loads nothing, even from the search path";

    platform.registry.CreateKey(kRoot);
    EXPECT_FALSE(ProductInfo::ReadFile(kIni).LoadMessageModule()) << "no ProductInstallPath";

    platform.libraries.Add(L"D:\\Velquor\\QxMessages.dll");
    platform.registry.SetString(kRoot, L"ProductInstallPath", L"D:\\Velquor");
    EXPECT_TRUE(ProductInfo::ReadFile(kIni).LoadMessageModule()) << "a separator is added";

    platform.libraries.Add(L"D:/Velquor/QxMessages.dll");
    platform.registry.SetString(kRoot, L"ProductInstallPath", L"D:/Velquor/", Platform::kRegExpandSz);
    EXPECT_TRUE(ProductInfo::ReadFile(kIni).LoadMessageModule()) << "a trailing '/' is kept as it is";

    platform.registry.SetString(kRoot, L"ProductInstallPath", L"");
    EXPECT_TRUE(ProductInfo::ReadFile(kIni).LoadMessageModule()) << "an empty path yields the bare name";

    platform.registry.SetDword(kRoot, L"ProductInstallPath", 1);
    EXPECT_FALSE(ProductInfo::ReadFile(kIni).LoadMessageModule());
    EXPECT_EQ(
        platform.libraries.LoadedPaths(),
        (std::vector<std::wstring>{L"D:\\Velquor\\QxMessages.dll", L"D:/Velquor/QxMessages.dll", L"QxMessages.dll"}));
}

TEST_F(ProductInfoTest, EmptyMessageFileDisablesTheLibrary)
{
    SetIni(L"MessageFile", L"");
    platform.libraries.Add(L"");
    EXPECT_FALSE(ProductInfo::ReadFile(kIni).LoadMessageModule());
    EXPECT_TRUE(platform.libraries.LoadedPaths().empty());
}

TEST_F(ProductInfoTest, ProductStringsAreReadWholeWhateverTheirSize)
{
    platform.registry.SetString(kRoot, L"Long", std::wstring(1000, L'p'));
    platform.registry.SetRaw(kRoot, L"Unterminated", Platform::kRegSz, {'a', 0, 'b', 0});
    Platform::RegistryKey key;
    ASSERT_EQ(Platform::Registry().OpenKey(kRoot, Platform::kKeyRead, key), kErrorSuccess);
    std::wstring value;
    EXPECT_TRUE(ReadProductString(key.get(), L"Long", value));
    EXPECT_EQ(value, std::wstring(1000, L'p'));
    EXPECT_TRUE(ReadProductString(key.get(), L"Unterminated", value));
    EXPECT_EQ(value, L"ab") << "data without a NUL ends at its size";
    EXPECT_FALSE(ReadProductString(key.get(), L"Missing", value));
}

} // namespace
