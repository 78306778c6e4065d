#include <gtest/gtest.h>

#include "Plugin/Shell/ClassObject.h"
#include "Plugin/Shell/RefObject.h"

namespace {

int g_destroyed = 0;

class Counted : public RefObject {
public:
    ~Counted() override { ++g_destroyed; }
};

class Listener : public virtual RefObject {};
class Worker : public virtual RefObject {};

// An object reached along two paths to RefObject, with a class slot, like an action adapter.
class Adapter : public Listener, public Worker, public ClassObject<Adapter> {
public:
    ~Adapter() override { ++g_destroyed; }
};

class RefObjectTest : public ::testing::Test {
protected:
    void SetUp() override { g_destroyed = 0; }
};

TEST_F(RefObjectTest, LastHolderDestroysTheObjectOnce)
{
    auto* object = new Counted;
    EXPECT_EQ(object->GetRefCount(), 1u);
    {
        RefPtr<Counted> first(object);
        {
            RefPtr<Counted> second = first;
            EXPECT_EQ(object->GetRefCount(), 2u);
        }
        EXPECT_EQ(g_destroyed, 0);
    }
    EXPECT_EQ(g_destroyed, 1);
}

TEST_F(RefObjectTest, NullHoldersAndSelfAssignmentAreHarmless)
{
    RefPtr<Counted> empty;
    empty.Reset();
    RefPtr<Counted> copy = empty;
    RefPtr<RefObject> converted = copy;
    EXPECT_FALSE(copy);
    EXPECT_FALSE(converted);

    RefPtr<Counted> held(new Counted);
    RefPtr<Counted>& alias = held;
    held = alias;
    EXPECT_EQ(held->GetRefCount(), 1u);
    EXPECT_EQ(g_destroyed, 0);
}

TEST_F(RefObjectTest, AssignmentMovesTheReference)
{
    RefPtr<Counted> a(new Counted);
    RefPtr<Counted> b(new Counted);
    a = b;
    EXPECT_EQ(g_destroyed, 1);
    EXPECT_EQ(b->GetRefCount(), 2u);
    b = RefPtr<Counted>();
    EXPECT_EQ(a->GetRefCount(), 1u);
}

TEST_F(RefObjectTest, InstanceNamesTheLiveObjectOnly)
{
    EXPECT_FALSE(ClassObject<Adapter>::Instance());
    RefPtr<Adapter> owner(new Adapter);
    RefPtr<Adapter> reached = ClassObject<Adapter>::Instance();
    ASSERT_TRUE(reached);
    EXPECT_EQ(reached.Get(), owner.Get());

    owner.Reset();   // the reference from Instance keeps it alive
    EXPECT_EQ(g_destroyed, 0);
    reached.Reset();
    EXPECT_EQ(g_destroyed, 1);
    EXPECT_FALSE(ClassObject<Adapter>::Instance());
}

TEST_F(RefObjectTest, HoldersOfDifferentBasesNameTheSameObject)
{
    RefPtr<Adapter> adapter(new Adapter);
    RefPtr<Listener> asListener = adapter;
    RefPtr<Worker> asWorker = adapter;
    EXPECT_TRUE(IsSameObject(asListener, adapter));
    EXPECT_TRUE(IsSameObject(asListener, asWorker));
    EXPECT_EQ(adapter->GetRefCount(), 3u);
    EXPECT_TRUE(IsSameObject(RefPtr<Listener>(), RefPtr<Worker>()));
    EXPECT_FALSE(IsSameObject(asListener, RefPtr<Worker>()));
}

} // namespace
