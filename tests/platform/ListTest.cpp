#include <gtest/gtest.h>

#include <vector>

#include "platform/List.h"

using namespace kin;

namespace {

struct Item : TObject {
    explicit Item(int v, int* alive = nullptr) : value(v), alive(alive) {
        if (alive) ++*alive;
    }
    ~Item() override {
        if (alive) --*alive;
    }
    int value;
    int* alive;
};

std::vector<int> Values(const TList& list) {
    std::vector<int> out;
    for (TObject* o : list) out.push_back(As<Item>(o)->value);
    return out;
}

}  // namespace

TEST(Ref, CountsOwnersAndDeletesWithTheLast) {
    int alive = 0;
    {
        Ref<Item> a = MakeRef<Item>(1, &alive);
        EXPECT_EQ(a->RefCount(), 1);
        Ref<TObject> b = a;
        EXPECT_EQ(a->RefCount(), 2);
        Ref<Item>& same = a;
        a = same;  // self-assignment keeps the object
        EXPECT_EQ(alive, 1);
        a = nullptr;
        EXPECT_EQ(alive, 1);
        EXPECT_TRUE(Is<Item>(b.Get()));
        EXPECT_FALSE(Is<TList>(b.Get()));
        EXPECT_EQ(As<TList>(b.Get()), nullptr);
    }
    EXPECT_EQ(alive, 0);
}

TEST(List, AppendsIteratesInOrderAndRemovesThroughLinks) {
    int alive = 0;
    {
        TList list;
        Ref<TLink> l1 = list.AddLast(new Item(1, &alive));
        Ref<TLink> l2 = list.AddLast(new Item(2, &alive));
        Ref<TLink> l3 = list.AddLast(new Item(3, &alive));
        list.AddFirst(new Item(0, &alive));
        EXPECT_EQ(Values(list), (std::vector<int>{0, 1, 2, 3}));
        EXPECT_EQ(list.Count(), 4);

        l2->Remove();
        EXPECT_EQ(Values(list), (std::vector<int>{0, 1, 3}));
        EXPECT_EQ(alive, 3);  // the list dropped its reference to item 2
        l2->Remove();         // double removal is harmless
        list.Remove(l2.Get());
        EXPECT_EQ(list.Count(), 3);
        EXPECT_EQ(l2->List(), nullptr);
        EXPECT_EQ(l2->Value(), nullptr);

        EXPECT_EQ(l1->NextLink(), l3.Get());
        EXPECT_EQ(l3->NextLink(), nullptr);
        EXPECT_TRUE(list.Contains(l3->Value()));
    }
    EXPECT_EQ(alive, 0);
}

TEST(List, RemovingTheCurrentEntryWhileIteratingIsSafe) {
    TList list;
    std::vector<Ref<TLink>> links;
    for (int i = 0; i < 5; ++i) links.push_back(list.AddLast(new Item(i)));
    std::vector<int> seen;
    for (TObject* o : list) {
        seen.push_back(As<Item>(o)->value);
        if (As<Item>(o)->value % 2 == 0) list.Remove(o);
    }
    EXPECT_EQ(seen, (std::vector<int>{0, 1, 2, 3, 4}));
    EXPECT_EQ(Values(list), (std::vector<int>{1, 3}));
}

TEST(List, EmbeddedLinksMoveBetweenListsWithoutCounting) {
    Ref<Item> owner = MakeRef<Item>(7);
    TList a, b;
    TLink embedded;
    a.AddLast(embedded, owner.Get());
    EXPECT_EQ(owner->RefCount(), 1);  // not counted
    EXPECT_EQ(Values(a), (std::vector<int>{7}));
    b.AddLast(embedded, owner.Get());  // re-linking takes it out of the first list
    EXPECT_TRUE(a.IsEmpty());
    EXPECT_EQ(Values(b), (std::vector<int>{7}));
    a.Remove(&embedded);  // not in a: nothing happens
    EXPECT_EQ(b.Count(), 1);
    embedded.Remove();
    embedded.Remove();
    EXPECT_TRUE(b.IsEmpty());
    {
        TLink scoped;
        b.AddLast(scoped, owner.Get());
    }  // a destroyed embedded link leaves its list intact
    EXPECT_TRUE(b.IsEmpty());
}

TEST(List, CopyIsIndependent) {
    TList list;
    list.AddLast(new Item(1));
    list.AddLast(new Item(2));
    Ref<TList> copy = list.Copy();
    list.Clear();
    EXPECT_EQ(Values(*copy), (std::vector<int>{1, 2}));
}
