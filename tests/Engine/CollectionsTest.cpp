// The keyed collections, the counted base of the model classes and TConverter.
#include "ModelTestSupport.h"

#include <gtest/gtest.h>

#include <ORVPluginHelpers.h>

#include <random>
#include <vector>

using namespace orv;
using namespace orv::test;

namespace {

// A point of another module: it answers IORVExtensionPoint but not IAdatable.
class TForeignPoint : public TInterfacedObject<IORVExtensionPoint> {
public:
    std::string ORV_CALL GetID() override { return "foreign.point"; }
    std::string ORV_CALL GetName() override { return ""; }
    Ref<IORVExtensions> ORV_CALL GetExtensions() override { return nullptr; }
    Ref<IORVDescriptor> ORV_CALL GetDescriptor() override { return nullptr; }
};

// A collection of another module that does answer IAdatable, with an implementor of its choice.
class TForeignAdatable : public TInterfacedObject<IORVExtensions, IAdatable> {
public:
    explicit TForeignAdatable(bool Self) : Self_(Self) {}
    Ref<IORVExtension> ORV_CALL Find(const std::string&) override { return nullptr; }
    int32_t ORV_CALL GetCount() override { return 0; }
    Ref<IORVExtension> ORV_CALL GetItem(int32_t) override { return nullptr; }
    void* ORV_CALL GetImplementor() override { return Self_ ? this : nullptr; }

private:
    bool Self_;
};

class CollectionsTest : public ::testing::Test {
protected:
    Ref<IORVDescriptor> Plugin = NewDescriptor("p");
};

TEST_F(CollectionsTest, HashedCollectionKeepsBothItemsOfOneIdTheLaterOneWinsAndEveryHeldItemStaysFindable) {
    Ref<IORVExtensionPoint> First = AddPoint(Plugin, "x");
    Ref<IORVExtensionPoint> Second = AddPoint(Plugin, "x");
    Ref<IORVExtensionPoints> Union(new TORVExtensionPoints(true));
    TORVExtensionPoints* U = TConverter::ToExtensionPoints(Union);
    U->Add(ModelObject(First));
    U->Add(ModelObject(Second));
    EXPECT_EQ(Union->GetCount(), 2);
    EXPECT_TRUE(Union->Find("p.x") == Second);

    // Removing the later item gives the key back to the earlier one; removing the earlier one
    // leaves the key with the later one.
    U->Remove(Second);
    EXPECT_TRUE(Union->Find("p.x") == First);
    U->Add(ModelObject(Second));
    U->Remove(First);
    EXPECT_EQ(Union->GetCount(), 1);
    EXPECT_TRUE(Union->Find("p.x") == Second);
    EXPECT_TRUE(Union->GetItem(0) == Second);
    U->Remove(Second);
    EXPECT_FALSE(Union->Find("p.x"));

    // Removing an outsider that has a held item's id changes nothing; nil is ignored.
    Ref<IORVExtension> Held = AddExtension(Plugin, "e", "x");
    Ref<IORVExtension> Outsider = AddExtension(Plugin, "e", "x");
    Ref<IORVExtensions> Linked(new TORVExtensions(true));
    TConverter::ToExtensions(Linked)->Add(ModelObject(Held));
    TConverter::ToExtensions(Linked)->Remove(Outsider);
    EXPECT_EQ(Linked->GetCount(), 1);
    EXPECT_TRUE(Linked->Find("p.e") == Held);
    TConverter::ToExtensions(Linked)->Remove(nullptr);
    EXPECT_EQ(Linked->GetCount(), 1);
}

// A collection that has not been searched yet keeps no hash; whatever was added and removed
// before, its first search must find what a collection with a hash from the start finds.
TEST_F(CollectionsTest, HashMadeOnFirstSearchFindsWhatAHashFromTheStartFinds) {
    // Three ids, two items under each: re-adding, removing and removing outsiders all matter.
    std::vector<Ref<IORVExtension>> Items;
    for (const char* Id : {"a", "a", "b", "b", "c", "c"}) Items.push_back(AddExtension(Plugin, Id, "x"));
    std::mt19937 Random(7);
    for (int Round = 0; Round < 400; ++Round) {
        Ref<IORVExtensions> Lazy(new TORVExtensions(true)), Eager(new TORVExtensions(true));
        TConverter::ToExtensions(Eager)->Reserve(8);
        for (int Step = 0; Step < 10; ++Step) {
            const Ref<IORVExtension>& Item = Items[Random() % Items.size()];
            const bool Adding = Random() % 3 != 0;
            for (TORVExtensions* C : {TConverter::ToExtensions(Lazy), TConverter::ToExtensions(Eager)})
                Adding ? C->Add(ModelObject(Item)) : C->Remove(Item);
        }
        ASSERT_EQ(Lazy->GetCount(), Eager->GetCount());
        for (int32_t I = 0; I < Lazy->GetCount(); ++I) ASSERT_TRUE(Lazy->GetItem(I) == Eager->GetItem(I));
        for (const char* Id : {"p.a", "p.b", "p.c"}) ASSERT_TRUE(Lazy->Find(Id) == Eager->Find(Id)) << Round << Id;
    }
}

TEST_F(CollectionsTest, HashedFindIsCaseSensitiveAndUnhashedFindFoldsAsciiCase) {
    Ref<IORVExtensionPoint> Lower = AddPoint(Plugin, "abc");
    Ref<IORVExtensionPoint> Upper = AddPoint(Plugin, "ABC");
    Ref<IORVExtensionPoints> Hashed(new TORVExtensionPoints(true));
    TConverter::ToExtensionPoints(Hashed)->Add(ModelObject(Lower));
    EXPECT_TRUE(Hashed->Find("p.abc") == Lower);
    EXPECT_FALSE(Hashed->Find("p.ABC"));
    EXPECT_FALSE(Hashed->Find("P.abc"));

    // The descriptor's own collection is unhashed: the earlier of two case variants is found.
    Ref<IORVExtensionPoints> Own = Plugin->GetExtensionPoints();
    EXPECT_TRUE(Own->Find("P.Abc") == Lower);
    EXPECT_TRUE(Own->Find("p.ABC") == Lower);
    EXPECT_FALSE(Own->Find("p.abd"));
    Ref<IORVDescriptor> Accented = NewDescriptor("\xC3\xA9");  // only ASCII letters fold: é is not É
    AddPoint(Accented, "x");
    EXPECT_TRUE(Accented->GetExtensionPoints()->Find("\xC3\xA9.X"));
    EXPECT_FALSE(Accented->GetExtensionPoints()->Find("\xC3\x89.x"));
}

TEST_F(CollectionsTest, SameItemTwiceAndEmptyIds) {
    Ref<IORVExtension> E = AddExtension(Plugin, "e", "x");
    Ref<IORVExtensions> Linked(new TORVExtensions(true));
    TConverter::ToExtensions(Linked)->Add(ModelObject(E));
    TConverter::ToExtensions(Linked)->Add(ModelObject(E));
    EXPECT_EQ(Linked->GetCount(), 1);

    Ref<IORVDescriptors> Descriptors(new TORVDescriptors());
    TConverter::ToDescriptors(Descriptors)->Add(ModelObject(Plugin));
    TConverter::ToDescriptors(Descriptors)->Add(ModelObject(Plugin));
    EXPECT_EQ(Descriptors->GetCount(), 2);
    // Both additions count, so two removals are needed.
    TConverter::ToDescriptors(Descriptors)->Remove(Plugin);
    EXPECT_TRUE(Descriptors->Find("p") == Plugin);
    TConverter::ToDescriptors(Descriptors)->Remove(Plugin);
    EXPECT_EQ(Descriptors->GetCount(), 0);
    EXPECT_FALSE(Descriptors->Find("p"));

    // An empty id finds nothing, even when an item has an empty id.
    TConverter::ToDescriptors(Descriptors)->Add(ModelObject(NewDescriptor("")));
    EXPECT_EQ(Descriptors->GetCount(), 1);
    EXPECT_FALSE(Descriptors->Find(""));

    Ref<IORVDescriptor> Anonymous = NewDescriptor("");
    AddPoint(Anonymous, "");  // id "."
    AddExtension(Anonymous, "", "x");
    EXPECT_FALSE(Anonymous->GetExtensionPoints()->Find(""));
    EXPECT_FALSE(Anonymous->GetExtensions()->Find(""));
    EXPECT_TRUE(Anonymous->GetExtensionPoints()->Find("."));
}

TEST_F(CollectionsTest, DescriptorsWithOneIdFindTheLatestStillHeld) {
    Ref<IORVDescriptors> Descriptors(new TORVDescriptors());
    TORVDescriptors* D = TConverter::ToDescriptors(Descriptors);
    D->Add(ModelObject(NewDescriptor("same")));
    D->Add(ModelObject(NewDescriptor("same")));
    D->Add(ModelObject(NewDescriptor("same")));
    Ref<IORVDescriptor> A = Descriptors->GetItem(0), B = Descriptors->GetItem(1), C = Descriptors->GetItem(2);
    EXPECT_TRUE(Descriptors->Find("same") == C);

    // Removing one from the middle leaves the key with the latest.
    D->Remove(B);
    EXPECT_TRUE(Descriptors->Find("same") == C);
    D->Remove(C);
    EXPECT_TRUE(Descriptors->Find("same") == A);

    // The collection held the only reference: the removed descriptor is gone, and the key must
    // not lead to it (a dangling pointer would show under AddressSanitizer here).
    Ref<IORVDescriptor> Survivor = NewDescriptor("same");
    D->Add(ModelObject(Survivor));
    A = nullptr;
    D->Remove(Descriptors->GetItem(0));
    EXPECT_TRUE(Descriptors->Find("same") == Survivor);
    EXPECT_EQ(Descriptors->GetCount(), 1);

    // A descriptor that was never added leaves the collection alone.
    D->Remove(NewDescriptor("same"));
    EXPECT_TRUE(Descriptors->Find("same") == Survivor);
}

TEST_F(CollectionsTest, NilAndOutOfRange) {
    Ref<IORVExtensionPoints> Points(new TORVExtensionPoints(true));
    Ref<IORVExtensions> Extensions(new TORVExtensions(false));
    Ref<IORVDescriptors> Descriptors(new TORVDescriptors());
    EXPECT_EQ(MessageOf([&] { TConverter::ToExtensionPoints(Points)->Add(nullptr); }),
              "Assertion failure (Engine/ORVEngineImpl, line 1017)");
    EXPECT_EQ(MessageOf([&] { TConverter::ToExtensions(Extensions)->Add(nullptr); }),
              "Assertion failure (Engine/ORVEngineImpl, line 814)");
    EXPECT_THROW(TConverter::ToDescriptors(Descriptors)->Add(nullptr), EORVException);
    EXPECT_EQ(MessageOf([&] { TConverter::ToDescriptors(Descriptors)->Add(nullptr); }), "Argument cannot be null");

    TConverter::ToDescriptors(Descriptors)->Add(ModelObject(Plugin));
    EXPECT_THROW(Descriptors->GetItem(1), EORVException);
    EXPECT_THROW(Descriptors->GetItem(-1), EORVException);
    EXPECT_THROW(Points->GetItem(0), EORVException);
    EXPECT_TRUE(Descriptors->GetItem(0) == Plugin);
}

TEST_F(CollectionsTest, ConverterFailureReactions) {
    EXPECT_EQ(MessageOf([] { TConverter::ToDescriptor(static_cast<IORVDescriptor*>(nullptr)); }),
              "Argument cannot be null");
    EXPECT_THROW(TConverter::ToDescriptor(Ref<IORVDescriptor>()), EORVException);

    Ref<IORVRegistry> Registry(new TORVRegistry());
    // A caller that hands over the wrong interface (as an untyped host could): the object behind
    // it is a descriptor, not a registry. Only the three base slots are used on it.
    auto* Disguised = reinterpret_cast<IORVRegistry*>(static_cast<IORVDescriptor*>(Plugin.Get()));
    EXPECT_EQ(MessageOf([&] { TConverter::ToRegistry(Disguised); }), "Condition is not valid");

    // An object without IAdatable: the interface layer's cast error, not EORVException.
    Ref<IORVExtensionPoint> Foreign(new TForeignPoint());
    EXPECT_THROW(TConverter::ToExtensionPoint(Foreign), EIntfCastError);
    // A foreign object that answers IAdatable is still not one of ours.
    Ref<IORVExtensions> ForeignSelf(new TForeignAdatable(true));
    EXPECT_EQ(MessageOf([&] { TConverter::ToExtensions(ForeignSelf); }), "Condition is not valid");
    Ref<IORVExtensions> ForeignNil(new TForeignAdatable(false));
    EXPECT_EQ(MessageOf([&] { TConverter::ToExtensions(ForeignNil); }), "Argument cannot be null");

    EXPECT_NE(TConverter::ToRegistry(Registry), nullptr);
}

TEST_F(CollectionsTest, GetImplementorYieldsTheObjectWhicheverInterfaceIsAsked) {
    Ref<IAdatable> Adapter = Plugin.Query<IAdatable>();
    ASSERT_TRUE(Adapter);
    TORVDescriptor* Object = TConverter::ToDescriptor(Plugin);
    EXPECT_EQ(Adapter->GetImplementor(), static_cast<TAdatableInterfacedObject*>(Object));
    Ref<IORVDescriptor> Again = Adapter.Query<IORVDescriptor>();
    EXPECT_TRUE(Again == Plugin);
    EXPECT_TRUE(Plugin.Query<IInterface>() == Adapter.Query<IInterface>());
    EXPECT_FALSE(Plugin.Query<IORVRegistry>());
}

}  // namespace
