// CPageRecordList: the records of the session's pages, in order, so that
// the page list can be saved whole in a form other tools read.
//
// It keeps far more pages than the list shows: up to a record limit, the
// oldest let go (and counted) beyond it. It also knows which of the newest
// records the page list still shows (the list holds a number of lines, the
// oldest pages dropped whole), so that a text report of the list can say
// what it leaves out. Records the list no longer shows drop their list
// lines, which nothing needs any more. Cleared when the list is. A plain
// value used on the user-interface thread only.
#pragma once

#include "session/PageRecord.h"

#include <cstddef>
#include <deque>
#include <string>
#include <vector>

class CPageRecordList {
  public:
    CPageRecordList(size_t nLineLimit, size_t nRecordLimit)
        : m_nLineLimit(nLineLimit), m_nRecordLimit(nRecordLimit) {}

    // The newest page; the oldest goes once there are more than the limit.
    void Add(const CPageRecord& record);
    void Clear();

    const std::deque<CPageRecord>& GetRecords() const { return m_records; }
    size_t GetCount() const { return m_records.size(); }
    // The pages let go since the last Clear to stay within the limit.
    size_t GetDroppedCount() const { return m_nDropped; }
    // The newest pages whose lines the page list still holds, and those
    // lines.
    size_t GetListedCount() const { return m_nListed; }
    size_t GetLineCount() const { return m_nListedLines; }

    // The records as the lines of a CSV file, the header first, or as JSON
    // lines; each without its line end.
    std::vector<std::string> CsvLines() const;
    std::vector<std::string> JsonLines() const;

  private:
    size_t m_nLineLimit;
    size_t m_nRecordLimit;
    size_t m_nListed = 0;
    size_t m_nListedLines = 0;
    size_t m_nDropped = 0;
    std::deque<CPageRecord> m_records;
};
