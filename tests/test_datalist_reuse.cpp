// The record list's entries are reused: a record taken after removals is
// zero-filled again, links and order stay right across reuse, and a list that
// runs empty or is cleared starts afresh.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "core/datalist.h"

namespace {

struct Wide {
    int32_t id;
    unsigned char payload[36];
};

std::vector<int> Ids(const CDataList& list) {
    std::vector<int> out;
    const DataNode* prev = nullptr;
    for (DataNode* n = list.First(); n; n = n->next) {
        EXPECT_EQ(n->prev, prev);
        prev = n;
        out.push_back(CDataList::Record<Wide>(n)->id);
    }
    EXPECT_EQ(prev, list.Last());
    EXPECT_EQ(int(out.size()), list.Count());
    return out;
}

Wide* Append(CDataList& list, int id) {
    Wide* w = CDataList::Record<Wide>(list.Add());
    for (unsigned char b : w->payload) EXPECT_EQ(b, 0);
    EXPECT_EQ(w->id, 0);
    w->id = id;
    std::memset(w->payload, 0xAB, sizeof w->payload);
    return w;
}

}  // namespace

TEST(DataListReuse, RemovedEntriesComeBackZeroFilledAndInOrder) {
    CDataList list;
    list.SetRecordSize(sizeof(Wide));
    std::vector<int> expected;
    for (int i = 0; i < 5000; i++) Append(list, i);
    for (DataNode* n = list.First(); n;) {
        DataNode* next = n->next;
        if (CDataList::Record<Wide>(n)->id % 3) list.Remove(n);
        n = next;
    }
    for (int i = 0; i < 5000; i += 3) expected.push_back(i);
    // New records fill the given-back entries first, then new ones.
    for (int i = 5000; i < 9000; i++) {
        Append(list, i);
        expected.push_back(i);
    }
    EXPECT_EQ(Ids(list), expected);

    // Running empty and filling again, and clearing, leave a usable list.
    while (list.First()) list.Remove(list.Last());
    EXPECT_EQ(list.First(), nullptr);
    EXPECT_EQ(list.Last(), nullptr);
    for (int i = 0; i < 40; i++) Append(list, i);
    EXPECT_EQ(Ids(list).back(), 39);
    list.Clear();
    EXPECT_EQ(list.Count(), 0);
    Append(list, 7);
    EXPECT_EQ(Ids(list), std::vector<int>{7});
}
