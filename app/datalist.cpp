// CDataList: nodes and records are separate zero-filled blocks from
// CApp::Alloc; the list owns both.
#include "app/datalist.h"

#include "app/app.h"

CDataList::CDataList() : m_recordSize(-1), m_count(0), m_first(nullptr), m_last(nullptr) {}

CDataList::~CDataList() { Clear(); }

DataNode* CDataList::Add() {
    if (m_recordSize == -1) CApp::FatalExit("構造体サイズが指定されていません", "CDataList::Add(void)");
    auto* node = static_cast<DataNode*>(CApp::Alloc(sizeof(DataNode), "CDataList::Add()"));
    node->record = CApp::Alloc(size_t(m_recordSize), "CDataList::Add()");
    if (!m_first) {
        m_first = m_last = node;
    } else {
        m_last->next = node;
        node->prev = m_last;
        m_last = node;
    }
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
    CApp::Free(node->record);
    CApp::Free(node);
    m_count--;
    return m_count;
}

void CDataList::Clear() {
    DataNode* node = m_first;
    while (node) {
        DataNode* next = node->next;
        CApp::Free(node->record);
        CApp::Free(node);
        node = next;
    }
    m_first = m_last = nullptr;
    m_count = 0;
}
