#include "session/PageRecordList.h"

void CPageRecordList::Add(const CPageRecord& record) {
    m_records.push_back(record);
    m_nLines += record.lines.size();
    while (m_nLines > m_nLineLimit && !m_records.empty()) {
        m_nLines -= m_records.front().lines.size();
        m_records.pop_front();
    }
}

void CPageRecordList::Clear() {
    m_records.clear();
    m_nLines = 0;
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
