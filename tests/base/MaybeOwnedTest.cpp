#include "base/MaybeOwned.h"

#include <gtest/gtest.h>
#include <utility>

namespace kds {
namespace {

// Counts its own destructions, so that a test sees each free and each leak.
struct TTracked {
    explicit TTracked(int& Freed) : FFreed(Freed) {}
    ~TTracked() { ++FFreed; }
    int& FFreed;
};

TEST(MaybeOwnedTest, FreesAnOwnedObjectWhenReplacedClearedOrGone) {
    int Freed = 0;
    {
        TMaybeOwned<TTracked> Held(new TTracked(Freed), true);
        Held.Reset(new TTracked(Freed), true);
        EXPECT_EQ(Freed, 1);
        Held.Reset();
        EXPECT_EQ(Freed, 2);
        EXPECT_FALSE(Held);
        Held.Reset(new TTracked(Freed), true);
    }
    EXPECT_EQ(Freed, 3);
}

TEST(MaybeOwnedTest, NeverFreesALentObject) {
    int Freed = 0;
    TTracked Lent(Freed);
    {
        TMaybeOwned<TTracked> Held(&Lent, false);
        Held.Reset(&Lent, false);
        Held.Reset(nullptr);
        Held.Reset(&Lent, false);
    }
    EXPECT_EQ(Freed, 0);
}

TEST(MaybeOwnedTest, SettingTheSameObjectAgainOnlyChangesWhoOwnsIt) {
    int Freed = 0;
    auto* Object = new TTracked(Freed);
    {
        TMaybeOwned<TTracked> Held(Object, true);
        Held.Reset(Object, false); // handed back to the caller, not freed
        EXPECT_EQ(Freed, 0);
        EXPECT_EQ(Held.Get(), Object);
        EXPECT_FALSE(Held.Owns());
    }
    EXPECT_EQ(Freed, 0);
    TMaybeOwned<TTracked> Again(Object, false);
    Again.SetOwns(true); // a getter handing ownership back to the holder
    Again.Reset();
    EXPECT_EQ(Freed, 1);
}

TEST(MaybeOwnedTest, MoveCarriesOwnershipOnce) {
    int Freed = 0;
    TMaybeOwned<TTracked> From(new TTracked(Freed), true);
    TMaybeOwned<TTracked> To(std::move(From));
    EXPECT_FALSE(From);
    TMaybeOwned<TTracked> Last(new TTracked(Freed), true);
    Last = std::move(To); // frees what Last held, takes To's object
    EXPECT_EQ(Freed, 1);
    Last.Reset();
    EXPECT_EQ(Freed, 2);
}

} // namespace
} // namespace kds
