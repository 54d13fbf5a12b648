// CDataList: the one container of the game, a doubly linked list of
// separately allocated, zero-filled records of one fixed size.
#pragma once
#include <cstdint>

struct DataNode {
    DataNode* next;
    DataNode* prev;
    void* record;
};

class CDataList {
public:
    CDataList();
    ~CDataList();
    CDataList(const CDataList&) = delete;
    CDataList& operator=(const CDataList&) = delete;

    void SetRecordSize(int32_t size) { m_recordSize = size; }
    int32_t RecordSize() const { return m_recordSize; }
    DataNode* Add();
    int32_t Remove(DataNode* node);
    void Clear();

    int32_t Count() const { return m_count; }
    DataNode* First() const { return m_first; }
    DataNode* Last() const { return m_last; }

    template <class T>
    static T* Record(DataNode* node) { return static_cast<T*>(node->record); }

private:
    int32_t m_recordSize;
    int32_t m_count;
    DataNode* m_first;
    DataNode* m_last;
};
