// CDataList: the one container of the game, a doubly linked list of
// zero-filled records of one fixed size.
//
// Effects walk tens of thousands of records every frame and make or drop
// thousands at once, so a node and its record are not two heap blocks each:
// they sit side by side in one entry of a block that the list takes from the
// heap for many entries at a time. Entries taken in a row lie in a row, so a
// walk reads memory in order; a removed entry goes to the list's free list
// and is used again by the next append. The blocks go back to the heap when
// the list is cleared or becomes empty.
#pragma once
#include <cstddef>
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
    // Exchanges the whole contents (records, blocks, record size) with
    // another list; records keep their addresses.
    void Swap(CDataList& other);

    int32_t Count() const { return m_count; }
    DataNode* First() const { return m_first; }
    DataNode* Last() const { return m_last; }

    template <class T>
    static T* Record(DataNode* node) {
        return static_cast<T*>(node->record);
    }

private:
    // A block of entries; the entries follow this header.
    struct Block {
        Block* next;
    };
    DataNode* TakeEntry();
    void ReleaseBlocks();
    size_t EntryBytes() const;

    int32_t m_recordSize;
    int32_t m_count;
    DataNode* m_first;
    DataNode* m_last;
    Block* m_blocks;          // every block of the list, newest first
    DataNode* m_freeEntries;  // entries given back by Remove, linked by next
    unsigned char* m_unused;  // the untouched tail of the newest block
    unsigned char* m_unusedEnd;
};
