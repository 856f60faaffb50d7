#include "base/list.h"

#include <type_traits>
#include <vector>

#include <gtest/gtest.h>

namespace
{

typedef CList<unsigned long> ULongList;

// Walks the list forwards and checks every link on the way: prev of the
// first node is NULL, each prev points back, and the sentinel's prev is the
// last node. Returns the values in order.
std::vector<unsigned long> walk(ULongList const &list)
{
    std::vector<unsigned long> values;
    ULongList::NodeBase *prev = nullptr;
    for (ULongList::Iterator it = list.begin(); it != list.end(); ++it) {
        EXPECT_EQ(it.node()->prev, prev);
        prev = it.node();
        values.push_back(*it);
    }
    EXPECT_EQ(list.end().node()->prev, prev);
    EXPECT_EQ(list.end().node()->next, nullptr);
    EXPECT_EQ(values.size(), list.Count());
    return values;
}

ULongList::Iterator at(ULongList const &list, unsigned int index)
{
    ULongList::Iterator it = list.begin();
    while (index-- > 0)
        ++it;
    return it;
}

} // namespace

static_assert(!std::is_copy_constructible<CList<int *>>::value, "a copy would share nodes");
static_assert(!std::is_copy_assignable<CList<int *>>::value, "a copy would share nodes");

TEST(List, NewListIsEmpty)
{
    ULongList list;
    EXPECT_TRUE(list.begin() == list.end());
    EXPECT_EQ(list.Count(), 0u);
    EXPECT_TRUE(walk(list).empty());
}

TEST(List, PushBackKeepsInsertionOrderAndValues)
{
    ULongList list;
    for (unsigned long v : {0x1UL, 0x250UL, 0xFFFFFFFFFFFFFFFFUL})
        list.PushBack(v);
    EXPECT_EQ(walk(list), (std::vector<unsigned long>{0x1, 0x250, 0xFFFFFFFFFFFFFFFFUL}));
}

TEST(List, EraseRelinksNeighbours)
{
    struct Case {
        unsigned int index;
        std::vector<unsigned long> left;
    } cases[] = {
        {0, {20, 30}}, // head moves
        {1, {10, 30}}, // middle
        {2, {10, 20}}, // sentinel's prev becomes the new last
    };
    for (auto const &c : cases) {
        SCOPED_TRACE(c.index);
        ULongList list;
        for (unsigned long v : {10, 20, 30})
            list.PushBack(v);
        list.Erase(at(list, c.index));
        EXPECT_EQ(walk(list), c.left);
        // the list stays usable at both ends
        list.PushBack(40);
        std::vector<unsigned long> expected = c.left;
        expected.push_back(40);
        EXPECT_EQ(walk(list), expected);
    }
}

TEST(List, EraseEndAndDefaultIteratorChangeNothing)
{
    ULongList list;
    list.Erase(list.end());
    list.Erase(ULongList::Iterator());
    EXPECT_EQ(list.Count(), 0u);
    list.PushBack(7);
    list.Erase(list.end());
    EXPECT_EQ(walk(list), std::vector<unsigned long>{7});
}

TEST(List, EraseEverythingWhileWalkingThenReuse)
{
    ULongList list;
    for (unsigned long v = 0; v < 5; ++v)
        list.PushBack(v);
    for (ULongList::Iterator it = list.begin(); it != list.end();) {
        ULongList::Iterator next = it;
        ++next;
        list.Erase(it);
        it = next;
    }
    EXPECT_TRUE(list.begin() == list.end());
    EXPECT_EQ(list.Count(), 0u);
    list.PushBack(9);
    EXPECT_EQ(walk(list), std::vector<unsigned long>{9});
}

TEST(List, ClearAndDestructionLeavePointedToObjectsAlive)
{
    std::vector<int *> objects = {new int(1), new int(2), new int(3)};
    {
        CList<int *> list;
        for (int *p : objects)
            list.PushBack(p);
        list.Clear();
        EXPECT_EQ(list.Count(), 0u);
        EXPECT_TRUE(list.begin() == list.end());
        for (int *p : objects)
            list.PushBack(p);
    } // destructor frees the nodes only
    int sum = 0;
    for (int *p : objects) {
        sum += *p; // still valid memory (the sanitizer build would object otherwise)
        delete p;
    }
    EXPECT_EQ(sum, 6);
}
