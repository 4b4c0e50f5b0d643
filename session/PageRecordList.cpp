#include "session/PageRecordList.h"

void CPageRecordList::Add(const CPageRecord& record) {
    m_records.push_back(record);
    ++m_nListed;
    m_nListedLines += record.lines.size();
    // The list drops its oldest pages whole while it holds too many lines;
    // their records stay, without the lines.
    while (m_nListedLines > m_nLineLimit && m_nListed > 0) {
        CPageRecord& oldest = m_records[m_records.size() - m_nListed];
        m_nListedLines -= oldest.lines.size();
        oldest.lines = std::vector<std::string>();
        --m_nListed;
    }
    while (m_records.size() > m_nRecordLimit) {
        if (m_nListed == m_records.size()) {
            m_nListedLines -= m_records.front().lines.size();
            --m_nListed;
        }
        m_records.pop_front();
        ++m_nDropped;
    }
}

void CPageRecordList::Clear() {
    m_records.clear();
    m_nListed = 0;
    m_nListedLines = 0;
    m_nDropped = 0;
}

std::vector<std::string> CPageRecordList::CsvLines() const {
    std::vector<std::string> lines;
    lines.reserve(m_records.size() + 1);
    lines.push_back(PageRecordCsvHeader());
    for (const CPageRecord& record : m_records)
        lines.push_back(PageRecordCsv(record));
    return lines;
}

std::vector<std::string> CPageRecordList::JsonLines() const {
    std::vector<std::string> lines;
    lines.reserve(m_records.size());
    for (const CPageRecord& record : m_records)
        lines.push_back(PageRecordJson(record));
    return lines;
}
