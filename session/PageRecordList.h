// CPageRecordList: the records of the pages the page list shows, in the
// same order, so that the list can be saved in a form other tools read.
//
// It is bounded as the page list is: at most a number of page-list lines
// in all, the oldest pages dropped whole, so that each record stays beside
// the lines it made. Cleared when the list is. A plain value used on the
// user-interface thread only.
#pragma once

#include "session/PageRecord.h"

#include <cstddef>
#include <deque>
#include <string>
#include <vector>

class CPageRecordList {
  public:
    explicit CPageRecordList(size_t nLineLimit) : m_nLineLimit(nLineLimit) {}

    // The newest page; the oldest go while their lines and the new ones
    // are more than the limit.
    void Add(const CPageRecord& record);
    void Clear();

    const std::deque<CPageRecord>& GetRecords() const { return m_records; }
    size_t GetCount() const { return m_records.size(); }
    // The page-list lines of the records kept.
    size_t GetLineCount() const { return m_nLines; }

    // The records as the lines of a CSV file, the header first, or as JSON
    // lines; each without its line end.
    std::vector<std::string> CsvLines() const;
    std::vector<std::string> JsonLines() const;

  private:
    size_t m_nLineLimit;
    size_t m_nLines = 0;
    std::deque<CPageRecord> m_records;
};
