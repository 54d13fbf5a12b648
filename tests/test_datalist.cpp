// The record list.
#include <gtest/gtest.h>

#include "core/datalist.h"

namespace {

struct Rec {
    int32_t a;
    int32_t b;
};

std::vector<int> Values(const CDataList& list) {
    std::vector<int> out;
    for (DataNode* n = list.First(); n; n = n->next) out.push_back(CDataList::Record<Rec>(n)->a);
    return out;
}

void CheckLinks(const CDataList& list) {
    int count = 0;
    DataNode* prev = nullptr;
    for (DataNode* n = list.First(); n; n = n->next) {
        ASSERT_EQ(n->prev, prev);
        prev = n;
        count++;
    }
    ASSERT_EQ(prev, list.Last());
    ASSERT_EQ(count, list.Count());
}

CDataList* MakeList(int n) {
    auto* list = new CDataList;
    list->SetRecordSize(sizeof(Rec));
    for (int i = 0; i < n; i++) CDataList::Record<Rec>(list->Add())->a = i;
    return list;
}

}  // namespace

TEST(DataList, AppendsZeroFilledRecordsInOrder) {
    CDataList list;
    list.SetRecordSize(sizeof(Rec));
    for (int i = 0; i < 5; i++) {
        Rec* r = CDataList::Record<Rec>(list.Add());
        EXPECT_EQ(r->a, 0);
        EXPECT_EQ(r->b, 0);
        r->a = i;
    }
    EXPECT_EQ(Values(list), (std::vector<int>{0, 1, 2, 3, 4}));
    CheckLinks(list);
}

TEST(DataList, RemovesFirstMiddleLastAndOnly) {
    std::unique_ptr<CDataList> list(MakeList(4));
    EXPECT_EQ(list->Remove(list->First()), 3);
    CheckLinks(*list);
    EXPECT_EQ(list->Remove(list->First()->next), 2);
    CheckLinks(*list);
    EXPECT_EQ(list->Remove(list->Last()), 1);
    CheckLinks(*list);
    EXPECT_EQ(Values(*list), (std::vector<int>{1}));
    EXPECT_EQ(list->Last()->next, nullptr);
    EXPECT_EQ(list->Remove(list->First()), 0);
    EXPECT_EQ(list->First(), nullptr);
    EXPECT_EQ(list->Last(), nullptr);
    // The emptied list takes a new node as both ends.
    DataNode* n = list->Add();
    EXPECT_EQ(list->First(), n);
    EXPECT_EQ(list->Last(), n);
    EXPECT_EQ(n->prev, nullptr);
    EXPECT_EQ(n->next, nullptr);
}

TEST(DataList, RemovingWhileWalkingAndClearing) {
    std::unique_ptr<CDataList> list(MakeList(10));
    for (DataNode* n = list->First(); n;) {
        DataNode* next = n->next;
        if (CDataList::Record<Rec>(n)->a % 2) list->Remove(n);
        n = next;
    }
    EXPECT_EQ(Values(*list), (std::vector<int>{0, 2, 4, 6, 8}));
    CheckLinks(*list);
    list->Clear();
    EXPECT_EQ(list->Count(), 0);
    EXPECT_EQ(list->First(), nullptr);
    EXPECT_EQ(list->RecordSize(), int32_t(sizeof(Rec)));
    list->Add();
    EXPECT_EQ(list->Count(), 1);
}

TEST(DataList, AppendWithoutRecordSizeIsFatal) {
    EXPECT_EXIT(
        {
            CDataList list;
            list.Add();
        },
        testing::ExitedWithCode(1), "CDataList::Add\\(void\\): 構造体サイズが指定されていません");
}
