// Handles and process-wide objects belong to the platform services that made them: a handle is
// closed by the implementation that opened it, and nothing built on one set of services is used
// once another set replaces it.
#include <cstdlib>
#include <memory>

#include <gtest/gtest.h>

#include "FakePlatform.h"
#include "Platform/Api/ProcessWide.h"

using namespace Qx;
using namespace Qx::Platform;
using namespace Qx::Testing;

namespace {

constexpr const wchar_t* kKeyPath = L"SOFTWARE\\Velquor";

TEST(PlatformServicesTest, HandlesCloseThroughTheServicesThatOpenedThem)
{
    FakePlatform first;
    first.registry.CreateKey(kKeyPath);
    RegistryKey key;
    ASSERT_EQ(Registry().OpenKey(kKeyPath, kKeyRead, key), kErrorSuccess);
    Library library;
    first.libraries.Add(L"first.dll");
    ASSERT_EQ(Libraries().Load(L"first.dll", library), kErrorSuccess);
    Event event;
    ASSERT_EQ(Threads().CreateEvent(true, event), kErrorSuccess);

    {
        FakePlatform second;
        second.registry.CreateKey(kKeyPath);
        RegistryKey moved = std::move(key);
        moved.reset();
        EXPECT_EQ(first.registry.OpenKeyCount(), 0) << "closed by the registry that opened it";
        EXPECT_EQ(second.registry.OpenKeyCount(), 0);

        library.reset();
        EXPECT_EQ(first.libraries.FreedPaths(), std::vector<std::wstring>{L"first.dll"});
        EXPECT_TRUE(second.libraries.FreedPaths().empty());
    }

    event.reset();
    EXPECT_EQ(first.threads.OpenHandleCount(), 0u);
}

struct BuiltOnServices {
    BuiltOnServices() : registry(&Registry()) { ++built; }
    ~BuiltOnServices() { ++destroyed; }

    IRegistry* registry;
    static inline int built = 0;
    static inline int destroyed = 0;
};

BuiltOnServices& TheObject()
{
    static ProcessWide<BuiltOnServices> object([] { return std::make_unique<BuiltOnServices>(); });
    return object.Get();
}

TEST(PlatformServicesTest, ProcessWideObjectsAreBuiltOnceAndGoWithTheServicesTheyWereBuiltOn)
{
    FakePlatform outer;
    const int builtBefore = BuiltOnServices::built;
    EXPECT_EQ(&TheObject(), &TheObject());
    EXPECT_EQ(BuiltOnServices::built, builtBefore + 1);
    EXPECT_EQ(TheObject().registry, &outer.registry);

    const int destroyedBefore = BuiltOnServices::destroyed;
    {
        FakePlatform inner;
        EXPECT_EQ(BuiltOnServices::destroyed, destroyedBefore + 1) << "gone before other services are used";
        EXPECT_EQ(TheObject().registry, &inner.registry);
    }
    EXPECT_EQ(BuiltOnServices::destroyed, destroyedBefore + 2);
    EXPECT_EQ(TheObject().registry, &outer.registry);
    EXPECT_EQ(BuiltOnServices::built, builtBefore + 3);
}

TEST(PlatformServicesDeathTest, FrozenServicesCannotBeReplaced)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            FreezeServices();
            const Services current = Current();
            const bool refused = !Install(Services{}).has_value();
            const bool kept = Current().registry == current.registry;
            // NOLINTNEXTLINE(concurrency-mt-unsafe): the death test's child runs on this thread alone
            std::exit(refused && kept ? 0 : 1);
        },
        ::testing::ExitedWithCode(0), "");
}

} // namespace
