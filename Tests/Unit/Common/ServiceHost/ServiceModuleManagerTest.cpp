#include "Common/ServiceHost/ServiceModuleManager.h"

#include <gtest/gtest.h>

#include <stdexcept>

#include "FakeModules.h"
#include "LoggedPlatformTest.h"

using namespace Qx;
using namespace Qx::Testing;

namespace {

using Names = std::vector<std::wstring>;
using Calls = std::vector<std::string>;

class ServiceModuleManagerTest : public LoggedPlatformTest {
protected:
    ServiceModuleManagerTest()
    {
        Exports().Reset();
        AddFakeServiceModule(platform.libraries, L"a.dll", 0);
        AddFakeServiceModule(platform.libraries, L"b.dll", 1);
        AddFakeServiceModule(platform.libraries, L"c.dll", 2);
    }

    ServiceModuleManager manager;
};

TEST(ServiceModuleListTest, CutsAtSemicolonsAndCommasKeepingEverythingElse)
{
    EXPECT_EQ(SplitModuleList(L"a.dll;;b.dll,"), (Names{L"a.dll", L"b.dll"}));
    EXPECT_EQ(SplitModuleList(L"a.dll; b.dll"), (Names{L"a.dll", L" b.dll"}));
    EXPECT_EQ(SplitModuleList(L",\"c d.dll\"\t;"), (Names{L"\"c d.dll\"\t"}));
    EXPECT_TRUE(SplitModuleList(L";").empty());
    EXPECT_TRUE(SplitModuleList(L"").empty());
}

TEST_F(ServiceModuleManagerTest, LoadsAllAndInitialisesInOrderAndShutsDownInReverse)
{
    manager.Load(L"a.dll;;b.dll,c.dll");
    ASSERT_EQ(manager.Modules().size(), 3u);
    EXPECT_EQ(manager.Modules()[1]->name, L"b.dll");
    EXPECT_TRUE(Exports().Names().empty()) << "Load initialises nothing";
    EXPECT_TRUE(logger.Contains(L"Loading module:a.dll"));
    EXPECT_TRUE(logger.Contains(L"Entering ServiceModuleManager::Load"));

    manager.InitModules();
    manager.ShutdownModules();
    manager.ShutdownModules();
    EXPECT_EQ(Exports().Names(), (Calls{"A.SmInitialize", "B.SmInitialize", "C.SmInitialize", "C.SmShutdown",
                                        "B.SmShutdown", "A.SmShutdown"}))
        << "a second shut-down calls nothing";
    EXPECT_TRUE(logger.Contains(L"Init ServiceModule c.dll"));
    EXPECT_TRUE(logger.Contains(L"Shutting down ServiceModule a.dll"));
    EXPECT_TRUE(platform.libraries.FreedPaths().empty()) << "libraries stay loaded after the shut-down";
}

TEST_F(ServiceModuleManagerTest, LoadIsAllOrNothing)
{
    manager.Load(L"c.dll");
    EXPECT_EQ(RaisedBy([&] { manager.Load(L"a.dll;missing.dll;b.dll"); }), MakeHResult(0x8007007Eu));
    const LoggedRecord* failure = logger.Find(L"Failed to load ");
    ASSERT_NE(failure, nullptr);
    EXPECT_EQ(failure->text, L"Failed to load missing.dll Error:126");
    EXPECT_EQ(failure->severity, L"ERROR");
    EXPECT_EQ(platform.libraries.FreedPaths(), Names{L"a.dll"}) << "what this Load loaded is freed again";
    ASSERT_EQ(manager.Modules().size(), 1u) << "the previous list stays";
    EXPECT_EQ(manager.Modules()[0]->name, L"c.dll");

    manager.Load(L"a.dll,b.dll");
    EXPECT_EQ(platform.libraries.LivePaths(), (Names{L"a.dll", L"b.dll"})) << "the replaced list is released";
}

TEST_F(ServiceModuleManagerTest, LibraryWithoutBothExportsIsRefused)
{
    AddFakeServiceModule(platform.libraries, L"noshutdown.dll", 0, true, false);
    AddFakeServiceModule(platform.libraries, L"noinit.dll", 0, false, true);
    EXPECT_EQ(RaisedBy([&] { manager.Load(L"a.dll;noshutdown.dll"); }), MakeHResult(0x8007007Fu));
    EXPECT_EQ(RaisedBy([&] { manager.Load(L"noinit.dll"); }), MakeHResult(0x8007007Fu));
    EXPECT_TRUE(manager.Modules().empty());
    EXPECT_TRUE(platform.libraries.LivePaths().empty());
}

TEST_F(ServiceModuleManagerTest, NameThatLeadsOutOfTheHostFolderIsRefusedBeforeAnyLoad)
{
    EXPECT_EQ(RaisedBy([&] { manager.Load(L"a.dll;..\\b.dll"); }), MakeHResult(0x80070057u));
    const LoggedRecord* failure = logger.Find(L"Failed to load ..\\b.dll ");
    ASSERT_NE(failure, nullptr);
    EXPECT_EQ(failure->text,
              L"Failed to load ..\\b.dll Error:87 (the name leads out of the host's folder or is no file name)");
    EXPECT_EQ(platform.libraries.LoadedPaths(), Names{L"a.dll"});
    EXPECT_TRUE(platform.libraries.LivePaths().empty());
}

TEST_F(ServiceModuleManagerTest, FailingModuleUndoesTheStartWithItsError)
{
    Exports().results[1] = kEFail;
    Exports().flags[0] = ServiceModuleManager::kKeepsWatchDogGuard;
    Exports().during[1] = [this] {
        platform.process.threadErrorInfo = HostErrorInfo(L"B broke");
        platform.process.tickCount += 25;
    };
    manager.Load(L"a.dll;b.dll;c.dll");
    platform.process.modulePaths[manager.Modules()[1]->module.get()] = L"C:\\Qx\\b.dll";
    const auto error = CaughtBy([&] { manager.InitModules(); });
    ASSERT_TRUE(error.has_value()) << "the failure must be raised";
    EXPECT_EQ(error->Result(), kEFail);
    ASSERT_NE(error->ErrorInfo(), nullptr);
    EXPECT_EQ(error->ErrorInfo()->Description(), L"B broke");
    EXPECT_EQ(Exports().Names(), (Calls{"A.SmInitialize", "B.SmInitialize", "A.SmShutdown"}));
    EXPECT_TRUE(logger.Contains(L"ServiceModule b.dll initialization failed -2147467259"));
    const LoggedRecord* named = logger.Find(L"ServiceModule b.dll failed the start");
    ASSERT_NE(named, nullptr);
    EXPECT_EQ(named->text, L"ServiceModule b.dll failed the start after 25 ms: SmInitialize returned 0x80004005 (B "
                           L"broke); file C:\\Qx\\b.dll");
    EXPECT_EQ(named->severity, L"ERROR");
    EXPECT_EQ(named->level, 1);
    EXPECT_TRUE(manager.AnyModuleKeepsGuard()) << "bit 0 of an earlier module counts after a failure";
    EXPECT_TRUE(platform.libraries.FreedPaths().empty()) << "all libraries stay loaded";
}

// A module's exception ends the start at the initialisation thread's boundary; the modules before
// it must not be left running while their libraries are freed. One of another C++ runtime (a
// module built by Microsoft's compiler) is undone alike, and goes on as ForeignModuleException.
TEST_F(ServiceModuleManagerTest, ThrowingModuleShutsDownThoseBeforeItAndItsExceptionGoesOn)
{
    for (const bool foreign : {false, true}) {
        SCOPED_TRACE(foreign ? "another runtime's exception" : "the host runtime's exception");
        Exports().Reset();
        logger.records.clear();
        Exports().during[1] = [foreign] {
            if (foreign) {
                throw ForeignRuntimeException{".?AVruntime_error@std@@"};
            }
            throw std::runtime_error("B threw");
        };
        manager.Load(L"a.dll;b.dll;c.dll");
        try {
            manager.InitModules();
            ADD_FAILURE() << "the exception must go on";
        } catch (const std::runtime_error&) {
            EXPECT_FALSE(foreign);
        } catch (const ForeignModuleException& error) {
            EXPECT_TRUE(foreign);
            EXPECT_EQ(error.thrownType, ".?AVruntime_error@std@@");
        }
        EXPECT_EQ(Exports().Names(), (Calls{"A.SmInitialize", "B.SmInitialize", "A.SmShutdown"}));
        const LoggedRecord* named = logger.Find(L"ServiceModule b.dll failed the start");
        ASSERT_NE(named, nullptr);
        EXPECT_EQ(named->text, std::wstring(L"ServiceModule b.dll failed the start after 0 ms: SmInitialize threw ") +
                                   (foreign ? L".?AVruntime_error@std@@" : L"St13runtime_error") + L"; file b.dll");
        const LoggedRecord* record = logger.Find(L"ServiceModule b.dll initialization failed: ");
        ASSERT_NE(record, nullptr);
        EXPECT_EQ(record->text, L"ServiceModule b.dll initialization failed: exception thrown");
        EXPECT_EQ(record->severity, L"ERROR");
        EXPECT_FALSE(manager.Modules()[1]->initialized);
    }
}

// As an exception of the host's own runtime, which cannot leave the shut-down, does.
TEST_F(ServiceModuleManagerTest, ForeignExceptionOutOfShutdownTerminates)
{
    manager.Load(L"a.dll");
    manager.InitModules();
    Exports().duringShutdown[0] = [] { throw ForeignRuntimeException{".?AVruntime_error@std@@"}; };
    EXPECT_DEATH(manager.ShutdownModules(), "");
}

TEST_F(ServiceModuleManagerTest, OnlyBitZeroKeepsTheGuard)
{
    Exports().flags = {2, 4, 0x80000000u};
    manager.Load(L"a.dll,b.dll,c.dll");
    EXPECT_FALSE(manager.AnyModuleKeepsGuard());
    manager.InitModules();
    EXPECT_FALSE(manager.AnyModuleKeepsGuard());
    Exports().flags[2] = 3;
    manager.ShutdownModules();
    manager.InitModules();
    EXPECT_TRUE(manager.AnyModuleKeepsGuard());

    ServiceModuleManager empty;
    empty.Load(L";");
    EXPECT_NO_THROW(empty.InitModules());
    EXPECT_FALSE(empty.AnyModuleKeepsGuard());
}

} // namespace
