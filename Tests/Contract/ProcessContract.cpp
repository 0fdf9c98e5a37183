// The contract of IProcess: what the process and its threads know of themselves, held against the
// Win32 layer and the doubles alike.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <cwctype>
#include <string>

#include "ContractPlatform.h"
#include "Platform/Api/Platform.h"

namespace {

using namespace Qx::Testing;
using namespace Qx::Platform;

class ProcessContract : public ContractTest {};

bool EndsWithExe(const std::wstring& path)
{
    if (path.size() < 4) {
        return false;
    }
    std::wstring extension = path.substr(path.size() - 4);
    for (wchar_t& c : extension) {
        c = static_cast<wchar_t>(std::towlower(c));
    }
    return extension == L".exe";
}

TEST_F(ProcessContract, TheExecutableIsNamedByItsFullPathForANullModuleAndTheHostInstance)
{
    std::wstring executable;
    ASSERT_EQ(0u, Process().ModuleFileName(nullptr, executable));
    EXPECT_TRUE(EndsWithExe(executable)) << "got: " << testing::PrintToString(executable);
    EXPECT_EQ(L':', executable.at(1)) << "a drive-qualified path";

    std::wstring instance;
    ASSERT_EQ(0u, Process().ModuleFileName(Process().HostInstance(), instance));
    EXPECT_EQ(executable, instance);

    const std::wstring folder = Qx::Platform::ExecutableFolder();
    ASSERT_FALSE(folder.empty());
    EXPECT_EQ(L'\\', folder.back());
    EXPECT_EQ(0u, executable.rfind(folder, 0)) << "the folder is the start of the path";
    EXPECT_EQ(std::wstring::npos, executable.find(L'\\', folder.size())) << "and all of it up to the name";
}

TEST_F(ProcessContract, AModuleThatIsNotLoadedHasNoFileName)
{
    std::wstring path = L"untouched";
    EXPECT_EQ(126u, Process().ModuleFileName(reinterpret_cast<Qx::Platform::NativeHandle>(0x10000), path));
}

struct OtherThread {
    std::atomic<std::uint32_t> id{0};
    std::atomic<std::uint32_t> lastErrorSeen{0};
};

std::uint32_t ReportSelf(void* argument)
{
    auto* other = static_cast<OtherThread*>(argument);
    other->id = Process().CurrentThreadId();
    other->lastErrorSeen = Process().LastError();
    Process().SetLastError(1460);
    return 0;
}

TEST_F(ProcessContract, EachThreadHasItsOwnIdAndItsOwnLastError)
{
    Process().SetLastError(87);
    OtherThread other;
    Thread thread;
    ASSERT_EQ(0u, Threads().CreateThread(&ReportSelf, &other, thread, nullptr));
    ASSERT_EQ(kWaitObject0, Threads().Wait(thread.get(), 10000));

    EXPECT_NE(0u, Process().CurrentThreadId());
    EXPECT_NE(Process().CurrentThreadId(), other.id.load());
    EXPECT_EQ(Process().CurrentThreadId(), Process().CurrentThreadId());
    EXPECT_EQ(0u, other.lastErrorSeen.load()) << "a new thread starts without an error";
    EXPECT_EQ(87u, Process().LastError()) << "another thread's error is not this one's";
    EXPECT_NE(0u, Process().CurrentProcessId());
}

TEST_F(ProcessContract, NoErrorInformationIsPendingWhenNoneWasSet)
{
    EXPECT_EQ(nullptr, Process().TakeThreadErrorInfo());
}

} // namespace
