#include "Common/ServiceHost/ServiceConfiguration.h"

#include <gtest/gtest.h>

#include "LoggedPlatformTest.h"

using namespace Qx;
using namespace Qx::Testing;

namespace {

constexpr const wchar_t* kService = L"Foo";

class ServiceConfigurationTest : public ::testing::Test {
protected:
    ServiceConfigurationTest()
    {
        registry().SetString(key, L"ServiceModules", L"A.dll;B.dll");
        registry().SetDword(key, L"ServiceName", 3);
    }

    FakeRegistry& registry() { return platform.registry; }

    // The HRESULT Load raises, or S_OK.
    HRESULT Load()
    {
        return RaisedBy([this] {
            config = CServiceConfigurationImpl();
            config.Load(kService);
        });
    }

    FakePlatform platform;
    const std::wstring key = ParametersKeyPath(kService);
    CServiceConfigurationImpl config = CServiceConfigurationImpl();
};

TEST_F(ServiceConfigurationTest, ReadsTheParametersKey)
{
    EXPECT_EQ(key, L"SYSTEM\\CurrentControlSet\\Services\\Foo\\Parameters");
    registry().SetDword(key, L"SDEnabled", 2);
    registry().SetDword(key, L"LogCompressor", 0);
    EXPECT_EQ(Load(), kSOk);
    EXPECT_EQ(config.ServiceModules(), L"A.dll;B.dll");
    EXPECT_EQ(config.ServiceName(), 3u);
    EXPECT_TRUE(config.SDEnabled());
    EXPECT_FALSE(config.LogCompressor());
    EXPECT_EQ(registry().OpenKeyCount(), 0) << "the key is closed";
}

TEST_F(ServiceConfigurationTest, ServiceModulesValueRules)
{
    registry().SetString(key, L"ServiceModules", L"%SystemRoot%\\x.dll", Platform::kRegExpandSz);
    EXPECT_EQ(Load(), kSOk);
    EXPECT_EQ(config.ServiceModules(), L"%SystemRoot%\\x.dll") << "never expanded";

    registry().SetRaw(key, L"ServiceModules", Platform::kRegSz, {});
    EXPECT_EQ(Load(), kSOk);
    EXPECT_EQ(config.ServiceModules(), L"");
    registry().SetString(key, L"ServiceModules", L"");
    EXPECT_EQ(Load(), kSOk);

    registry().SetString(key, L"ServiceModules", std::wstring(259, L'm'));
    EXPECT_EQ(Load(), kSOk);
    registry().SetString(key, L"ServiceModules", std::wstring(260, L'm'));
    EXPECT_EQ(Load(), MakeHResult(0x800700EAu));

    registry().SetRaw(key, L"ServiceModules", Platform::kRegSz, Utf16Bytes(L"abc", false));
    EXPECT_EQ(Load(), MakeHResult(0x8007000Du)) << "not NUL-terminated";
    auto odd = Utf16Bytes(std::wstring(L"ab\0", 3), false);
    odd.push_back(0);
    registry().SetRaw(key, L"ServiceModules", Platform::kRegSz, odd);
    EXPECT_EQ(Load(), MakeHResult(0x8007000Du)) << "odd size";
    registry().SetDword(key, L"ServiceModules", 1);
    EXPECT_EQ(Load(), MakeHResult(0x8007000Du));
    registry().SetRaw(key, L"ServiceModules", Platform::kRegMultiSz, Utf16Bytes(std::wstring(L"a\0\0", 3), false));
    EXPECT_EQ(Load(), MakeHResult(0x8007000Du));

    registry().SetString(key, L"ServiceModules", std::wstring(L"A.dll\0B.dll", 11));
    EXPECT_EQ(Load(), kSOk);
    EXPECT_EQ(config.ServiceModules(), L"A.dll") << "the length runs to the first NUL";
}

TEST_F(ServiceConfigurationTest, RequiredValuesAndTheKeyRaiseTheirErrors)
{
    registry().SetString(key, L"ServiceName", L"");
    EXPECT_EQ(Load(), MakeHResult(0x8007000Du)) << "a string that fits the buffer is still no number";
    registry().SetQword(key, L"ServiceName", 3);
    EXPECT_EQ(Load(), MakeHResult(0x800700EAu));
    registry().SetRaw(key, L"ServiceName", Platform::kRegDword, {3, 0});
    EXPECT_EQ(Load(), MakeHResult(0x8007000Du)) << "a REG_DWORD of 2 bytes is not widened";

    registry().SetDword(key, L"ServiceName", 5);
    registry().SetDword(ParametersKeyPath(L"Other"), L"ServiceName", 5);
    registry().SetDword(key, L"SDEnabled", 1);
    config = CServiceConfigurationImpl();
    EXPECT_EQ(RaisedBy([this] { config.Load(L"Other"); }), kEFileNotFound) << "ServiceModules missing";
    EXPECT_EQ(config.ServiceName(), 0u) << "a failure at ServiceModules leaves the later values unread";
    EXPECT_FALSE(config.SDEnabled());

    EXPECT_EQ(CServiceConfigurationImpl().ServiceModules(), L"");
    EXPECT_EQ(registry().OpenKeyCount(), 0) << "closed also when a read raises";

    registry().FailOpen(key, 5);
    EXPECT_EQ(Load(), MakeHResult(0x80070005u));
    EXPECT_EQ(RaisedBy([] { CServiceConfigurationImpl().Load(L"Missing"); }), kEFileNotFound);
}

TEST_F(ServiceConfigurationTest, OptionalFlagsAcceptOnlyDwordsOfFourBytes)
{
    registry().SetRaw(key, L"SDEnabled", Platform::kRegDword, {1, 0, 0});
    registry().SetQword(key, L"LogCompressor", 1);
    EXPECT_EQ(Load(), kSOk);
    EXPECT_FALSE(config.SDEnabled());
    EXPECT_FALSE(config.LogCompressor());

    registry().SetDword(key, L"LogCompressor", 1);
    EXPECT_EQ(Load(), kSOk);
    EXPECT_TRUE(config.LogCompressor());
}

} // namespace
