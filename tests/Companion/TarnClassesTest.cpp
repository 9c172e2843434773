#include "Companion/TarnClasses.h"

#include <ORVPluginHelpers.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <vector>

namespace orv {
namespace {

struct IProbe : IInterface {
    static constexpr TGUID IID = {0x9D1E0A61, 0x3C2B, 0x4F0E, {0x8A, 0x11, 0x52, 0x6B, 0x0C, 0x7E, 0x33, 0x90}};
};

class TProbe final : public TInterfacedObject<IProbe> {
public:
    explicit TProbe(int* Live) : Live_(Live) { ++*Live_; }
    ~TProbe() override { --*Live_; }

private:
    int* Live_;
};

// The current reference count of Item.
int32_t RefCountOf(IInterface* Item) {
    Item->AddRef();
    return Item->Release();
}

class TTarnInterfaceListTest : public ::testing::Test {
protected:
    Ref<IProbe> NewProbe() { return Ref<IProbe>(new TProbe(&Live_)); }
    // The list's items in order.
    static std::vector<IInterface*> Items(const TTarnInterfaceList& List) {
        std::vector<IInterface*> Result;
        for (int32_t I = 0; I < List.GetCount(); ++I) Result.push_back(List.GetItems(I));
        return Result;
    }
    int Live_ = 0;
};

TEST_F(TTarnInterfaceListTest, AddRemoveAndIndexOfKeepOrderAndReferenceCounts) {
    Ref<IProbe> A = NewProbe(), B = NewProbe(), C = NewProbe(), Absent = NewProbe();
    TTarnInterfaceList List;
    for (IProbe* P : {A.Get(), B.Get(), C.Get(), A.Get()}) List.Add(P);
    EXPECT_EQ(Items(List), (std::vector<IInterface*>{A.Get(), B.Get(), C.Get(), A.Get()}));
    EXPECT_EQ(List.IndexOf(C.Get()), 2);
    EXPECT_EQ(List.IndexOf(Absent.Get()), -1);
    EXPECT_FALSE(List.Contains(Absent.Get()));
    EXPECT_EQ(RefCountOf(A.Get()), 3);  // held twice

    List.Remove(B.Get());
    List.Remove(B.Get());  // no longer held: nothing happens
    List.Remove(A.Get());  // the first occurrence goes
    EXPECT_EQ(Items(List), (std::vector<IInterface*>{C.Get(), A.Get()}));
    EXPECT_EQ(List.IndexOf(A.Get()), 1);
    EXPECT_FALSE(List.Contains(B.Get()));
    EXPECT_TRUE(List.Contains(A.Get()));
    EXPECT_EQ(RefCountOf(B.Get()), 1);
    EXPECT_EQ(RefCountOf(A.Get()), 2);

    List.Remove(A.Get());
    EXPECT_FALSE(List.Contains(A.Get()));
    EXPECT_EQ(List.IndexOf(A.Get()), -1);
    EXPECT_EQ(RefCountOf(A.Get()), 1);
    List.Clear();
    EXPECT_EQ(List.GetCount(), 0);
    EXPECT_FALSE(List.Contains(C.Get()));
    EXPECT_EQ(RefCountOf(C.Get()), 1);
}

TEST_F(TTarnInterfaceListTest, DestructionReleasesEveryItemOnceAndGetItemsOutsideRaises) {
    {
        auto List = std::make_unique<TTarnInterfaceList>();
        Ref<IProbe> A = NewProbe();
        List->Add(A.Get());
        List->Add(A.Get());
        List->Add(NewProbe().Get());
        List->Add(nullptr);
        EXPECT_EQ(Live_, 2);
        EXPECT_EQ(List->IndexOf(nullptr), 3);
        List.reset();
        EXPECT_EQ(RefCountOf(A.Get()), 1);
        EXPECT_EQ(Live_, 1);
    }
    EXPECT_EQ(Live_, 0);

    TTarnInterfaceList List;
    EXPECT_THROW(List.GetItems(0), EORVException);
    Ref<IProbe> A = NewProbe();
    List.Add(A.Get());
    EXPECT_THROW(List.GetItems(-1), EORVException);
    try {
        List.GetItems(1);
        FAIL() << "no exception";
    } catch (const EORVException& E) {
        EXPECT_EQ(std::string(E.what()), "Interface list index 1 out of bounds (count 1)");
    }
}

// The engine's collections guard each Add with Contains; many distinct items must stay cheap and
// the count map must stay in step with the list through removals.
TEST_F(TTarnInterfaceListTest, GuardedAddsOfManyItemsStayConsistent) {
    constexpr int N = 5000;
    std::vector<Ref<IProbe>> Probes;
    for (int I = 0; I < N; ++I) Probes.push_back(NewProbe());
    TTarnInterfaceList List;
    for (int Round = 0; Round < 2; ++Round)
        for (const Ref<IProbe>& P : Probes)
            if (!List.Contains(P.Get())) List.Add(P.Get());
    ASSERT_EQ(List.GetCount(), N);
    for (int I = 0; I < N; I += 2) List.Remove(Probes[I].Get());
    ASSERT_EQ(List.GetCount(), N / 2);
    for (int I = 0; I < N; ++I) ASSERT_EQ(List.Contains(Probes[I].Get()), I % 2 == 1) << I;
    EXPECT_EQ(List.IndexOf(Probes[N - 1].Get()), N / 2 - 1);
}

// A list long enough for its index, against a plain vector of the same operations: removals (first occurrences, of
// pointers held once and twice) mixed with additions and reads by position, in every order.
TEST_F(TTarnInterfaceListTest, RemovalsBetweenAdditionsAndReadsKeepTheOrderOfAPlainList) {
    std::vector<Ref<IProbe>> Probes;
    for (int I = 0; I < 100; ++I) Probes.push_back(NewProbe());
    TTarnInterfaceList List;
    std::vector<IInterface*> Expected;
    auto Add = [&](int I) {
        List.Add(Probes[I].Get());
        Expected.push_back(Probes[I].Get());
    };
    auto Remove = [&](int I) {
        List.Remove(Probes[I].Get());
        auto At = std::find(Expected.begin(), Expected.end(), Probes[I].Get());
        if (At != Expected.end()) Expected.erase(At);
    };
    for (int I = 0; I < 100; ++I) Add(I);
    for (int I = 0; I < 10; ++I) Add(I);  // held twice
    for (int Step = 0; Step < 400; ++Step) {
        const int I = (Step * 7) % 100;
        if (Step % 3 == 0) {
            Add(I);
        } else {
            Remove(I);
        }
        if (Step % 5 == 0) {
            ASSERT_EQ(Items(List), Expected) << Step;
        }
        ASSERT_EQ(List.GetCount(), static_cast<int32_t>(Expected.size()));
        const auto Where = std::find(Expected.begin(), Expected.end(), Probes[I].Get());
        ASSERT_EQ(List.IndexOf(Probes[I].Get()), Where == Expected.end() ? -1 : Where - Expected.begin()) << Step;
    }
    EXPECT_EQ(Items(List), Expected);
    List.Clear();
    for (const Ref<IProbe>& P : Probes) EXPECT_EQ(RefCountOf(P.Get()), 1);
}

}  // namespace
}  // namespace orv
