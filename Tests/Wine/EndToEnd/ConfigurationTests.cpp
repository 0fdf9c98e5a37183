// The service's Parameters key as the host reads it at start-up. A -RegServer run ends right after
// the configuration is loaded, so its exit code is the outcome of the load.
#include "HostHarness.h"

using namespace Qx::Testing;

namespace {

class HostConfiguration : public HostTest {
protected:
    // S_OK: the load succeeded and the process ended at the switch. Otherwise the HRESULT of the
    // failed load is both the exit code and in the log.
    void ExpectLoad(HRESULT expected)
    {
        const HostRun run = Run(L"-name=" + m_service + L" -RegServer");
        EXPECT_EQ(Hex(expected), Hex(run.exitCode));
        const LogFile log = ReadLog(LogPath(m_service, run.processId));
        if (expected == S_OK) {
            EXPECT_TRUE(HasRecordsInOrder(log, {"Exiting CServiceConfigurationImpl::Load"}));
            EXPECT_TRUE(HasNoRecordStartingWith(log, "WinMain failed: "));
        } else {
            EXPECT_TRUE(HasRecordsInOrder(log, {"*** EXCEPTION Exiting CServiceConfigurationImpl::Load"}));
            EXPECT_TRUE(HasWinMainFailure(log, expected));
        }
    }
};

std::vector<BYTE> Bytes(std::initializer_list<int> values)
{
    std::vector<BYTE> bytes;
    for (const int value : values) {
        bytes.push_back(static_cast<BYTE>(value));
    }
    return bytes;
}

TEST_F(HostConfiguration, ServiceModulesAcceptsTerminatedStrings)
{
    ASSERT_NO_FATAL_FAILURE(WriteMinimalParameters());
    {
        SCOPED_TRACE("REG_SZ holding only its NUL");
        ExpectLoad(S_OK);
    }
    {
        SCOPED_TRACE("REG_SZ of zero bytes");
        ASSERT_EQ(ERROR_SUCCESS, SetParameterRaw(m_service, L"ServiceModules", REG_SZ, {}));
        ExpectLoad(S_OK);
    }
    {
        SCOPED_TRACE("REG_EXPAND_SZ, taken unexpanded");
        ASSERT_EQ(ERROR_SUCCESS,
                  SetParameterString(m_service, L"ServiceModules", L"%SystemRoot%\\QxNone.dll", REG_EXPAND_SZ));
        ExpectLoad(S_OK);
    }
}

TEST_F(HostConfiguration, ServiceModulesHoldsAtMost259Characters)
{
    ASSERT_NO_FATAL_FAILURE(WriteMinimalParameters());
    {
        SCOPED_TRACE("259 characters");
        ASSERT_EQ(ERROR_SUCCESS, SetParameterString(m_service, L"ServiceModules", std::wstring(259, L'm')));
        ExpectLoad(S_OK);
    }
    {
        SCOPED_TRACE("260 characters");
        ASSERT_EQ(ERROR_SUCCESS, SetParameterString(m_service, L"ServiceModules", std::wstring(260, L'm')));
        ExpectLoad(kMoreData);
    }
}

TEST_F(HostConfiguration, ServiceModulesRejectsMissingOrMalformedValues)
{
    ASSERT_NO_FATAL_FAILURE(WriteMinimalParameters());
    {
        SCOPED_TRACE("missing");
        ASSERT_EQ(ERROR_SUCCESS, DeleteParameter(m_service, L"ServiceModules"));
        ExpectLoad(kFileNotFound);
    }
    {
        SCOPED_TRACE("REG_DWORD");
        ASSERT_EQ(ERROR_SUCCESS, SetParameterDword(m_service, L"ServiceModules", 0));
        ExpectLoad(kInvalidData);
    }
    {
        SCOPED_TRACE("REG_MULTI_SZ");
        ASSERT_EQ(ERROR_SUCCESS,
                  SetParameterRaw(m_service, L"ServiceModules", REG_MULTI_SZ, Bytes({'a', 0, 0, 0, 0, 0})));
        ExpectLoad(kInvalidData);
    }
    {
        SCOPED_TRACE("unterminated REG_SZ \"abc\"");
        ASSERT_EQ(ERROR_SUCCESS,
                  SetParameterRaw(m_service, L"ServiceModules", REG_SZ, Bytes({'a', 0, 'b', 0, 'c', 0})));
        ExpectLoad(kInvalidData);
    }
    {
        SCOPED_TRACE("REG_SZ of an odd size");
        ASSERT_EQ(ERROR_SUCCESS, SetParameterRaw(m_service, L"ServiceModules", REG_SZ, Bytes({'a', 0, 0, 0, 0})));
        ExpectLoad(kInvalidData);
    }
}

// ServiceName is read straight into a 4-byte number: data that fit but have another type are
// invalid, longer data do not fit.
TEST_F(HostConfiguration, ServiceNameMustBeADword)
{
    ASSERT_NO_FATAL_FAILURE(WriteMinimalParameters());
    {
        SCOPED_TRACE("missing");
        ASSERT_EQ(ERROR_SUCCESS, DeleteParameter(m_service, L"ServiceName"));
        ExpectLoad(kFileNotFound);
    }
    {
        SCOPED_TRACE("REG_SZ \"1\" (4 bytes)");
        ASSERT_EQ(ERROR_SUCCESS, SetParameterString(m_service, L"ServiceName", L"1"));
        ExpectLoad(kInvalidData);
    }
    {
        SCOPED_TRACE("REG_BINARY of 4 bytes");
        ASSERT_EQ(ERROR_SUCCESS, SetParameterRaw(m_service, L"ServiceName", REG_BINARY, Bytes({1, 0, 0, 0})));
        ExpectLoad(kInvalidData);
    }
    {
        SCOPED_TRACE("REG_QWORD");
        ASSERT_EQ(ERROR_SUCCESS, SetParameterQword(m_service, L"ServiceName", 1));
        ExpectLoad(kMoreData);
    }
    {
        SCOPED_TRACE("REG_DWORD again");
        ASSERT_EQ(ERROR_SUCCESS, SetParameterDword(m_service, L"ServiceName", 1));
        ExpectLoad(S_OK);
    }
}

// SDEnabled and LogCompressor are optional: values of the wrong type are ignored, not errors.
TEST_F(HostConfiguration, OptionalFlagsOfAnotherTypeAreIgnored)
{
    ASSERT_NO_FATAL_FAILURE(WriteMinimalParameters());
    ASSERT_EQ(ERROR_SUCCESS, SetParameterString(m_service, L"SDEnabled", L"1"));
    ASSERT_EQ(ERROR_SUCCESS, SetParameterQword(m_service, L"LogCompressor", 1));
    ExpectLoad(S_OK);
}

} // namespace
