// CDataList: nodes and their records live in entries of blocks from
// CApp::Alloc; the list owns the blocks (see datalist.h for why).
#include "core/datalist.h"

#include <algorithm>
#include <cstring>
#include <utility>

#include "core/app.h"

namespace {

// Entries are aligned for any record type.
constexpr size_t kEntryAlign = alignof(std::max_align_t);
constexpr size_t RoundUp(size_t bytes) { return (bytes + kEntryAlign - 1) / kEntryAlign * kEntryAlign; }
constexpr size_t kNodeBytes = RoundUp(sizeof(DataNode));
// A new block holds as many entries as the list has nodes (it doubles as the
// list grows), at least a few and at most some thousands.
constexpr int32_t kFewestEntries = 16;
constexpr int32_t kMostEntries = 4096;

}  // namespace

CDataList::CDataList()
    : m_recordSize(-1),
      m_count(0),
      m_first(nullptr),
      m_last(nullptr),
      m_blocks(nullptr),
      m_freeEntries(nullptr),
      m_unused(nullptr),
      m_unusedEnd(nullptr) {}

CDataList::~CDataList() { Clear(); }

size_t CDataList::EntryBytes() const { return kNodeBytes + RoundUp(size_t(m_recordSize)); }

// An entry for a new node: a given-back one first, else the next untouched
// one of the newest block, else one of a new block.
DataNode* CDataList::TakeEntry() {
    if (m_freeEntries) {
        DataNode* node = m_freeEntries;
        m_freeEntries = node->next;
        return node;
    }
    const size_t entryBytes = EntryBytes();
    if (m_unused == m_unusedEnd) {
        const size_t entries = size_t(std::clamp(m_count, kFewestEntries, kMostEntries));
        const size_t headerBytes = RoundUp(sizeof(Block));
        auto* block = static_cast<Block*>(CApp::Alloc(headerBytes + entries * entryBytes, "CDataList::Add()"));
        block->next = m_blocks;
        m_blocks = block;
        m_unused = reinterpret_cast<unsigned char*>(block) + headerBytes;
        m_unusedEnd = m_unused + entries * entryBytes;
    }
    auto* node = reinterpret_cast<DataNode*>(m_unused);
    m_unused += entryBytes;
    return node;
}

DataNode* CDataList::Add() {
    if (m_recordSize == -1) CApp::FatalExit("構造体サイズが指定されていません", "CDataList::Add(void)");
    DataNode* node = TakeEntry();
    node->record = reinterpret_cast<unsigned char*>(node) + kNodeBytes;
    std::memset(node->record, 0, size_t(m_recordSize));
    node->next = nullptr;
    node->prev = m_last;
    if (m_last)
        m_last->next = node;
    else
        m_first = node;
    m_last = node;
    m_count++;
    return node;
}

int32_t CDataList::Remove(DataNode* node) {
    if (node->prev)
        node->prev->next = node->next;
    else
        m_first = node->next;
    if (node->next)
        node->next->prev = node->prev;
    else
        m_last = node->prev;
    m_count--;
    if (m_count == 0) {
        ReleaseBlocks();
    } else {
        node->prev = nullptr;
        node->record = nullptr;
        node->next = m_freeEntries;
        m_freeEntries = node;
    }
    return m_count;
}

void CDataList::Clear() {
    ReleaseBlocks();
    m_first = m_last = nullptr;
    m_count = 0;
}

void CDataList::Swap(CDataList& other) {
    std::swap(m_recordSize, other.m_recordSize);
    std::swap(m_count, other.m_count);
    std::swap(m_first, other.m_first);
    std::swap(m_last, other.m_last);
    std::swap(m_blocks, other.m_blocks);
    std::swap(m_freeEntries, other.m_freeEntries);
    std::swap(m_unused, other.m_unused);
    std::swap(m_unusedEnd, other.m_unusedEnd);
}

void CDataList::ReleaseBlocks() {
    while (m_blocks) {
        Block* next = m_blocks->next;
        CApp::Free(m_blocks);
        m_blocks = next;
    }
    m_freeEntries = nullptr;
    m_unused = m_unusedEnd = nullptr;
}
