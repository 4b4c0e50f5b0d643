#include "session/SessionLog.h"

#include "session/PageRecord.h"
#include "session/SessionDelivery.h"

#include "session/Clock.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>
#include <utility>

namespace {

constexpr const char* kPrefix = "   SESSION LOG: ";

// "2026-12-08": the local day, as the page records write it.
std::string DayText(std::int64_t nTimeMs) {
    return IsoLocalTime(nTimeMs).substr(0, 10);
}

// Every byte, or the errno of the failure.
int WriteAll(int fd, const std::string& strText) {
    size_t nDone = 0;
    while (nDone < strText.size()) {
        const ssize_t n = write(fd, strText.data() + nDone, strText.size() - nDone);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return errno;
        }
        nDone += static_cast<size_t>(n);
    }
    return 0;
}

} // namespace

CSessionLog::CSessionLog(const std::string& strFolder)
    : m_strFolder(strFolder), m_lines([this](const std::string& strLine) {
          Push(FileKind::kTrace, strLine + "\n");
      }) {
    // A file size limit is a failed write to report, not the end of the
    // program.
    std::signal(SIGXFSZ, SIG_IGN);
    m_writer = std::thread([this] { WriterProc(); });
}

CSessionLog::~CSessionLog() {
    Finish();
}

void CSessionLog::Finish() {
    if (!m_writer.joinable())
        return;
    m_lines.Flush();
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_bStop = true;
    }
    m_cv.notify_one();
    m_writer.join();
}

bool CSessionLog::ParseKeepDays(const std::string& strValue, int* pnDays) {
    *pnDays = kDefaultKeepDays;
    if (strValue.empty())
        return true;
    if (strValue.size() > 5 ||
        strValue.find_first_not_of("0123456789") != std::string::npos)
        return false;
    *pnDays = std::stoi(strValue);
    return true;
}

void CSessionLog::SetKeepDays(int nDays) {
    m_nKeepDays = nDays;
    // The first look happens now, not at the first record: a quiet line
    // may write nothing for days.
    const std::int64_t nNowMs = GetClock().NowMs();
    std::lock_guard<std::mutex> fileLock(m_fileMutex);
    m_strCleanedDay = DayText(nNowMs);
    RemoveOldFiles(m_strFolder, nNowMs, nDays);
}

bool CSessionLog::IsDailyFileName(const std::string& strName, std::string* pstrDay) {
    // The names PagesFileName, TraceFileName and DeliveriesFileName make.
    static const std::pair<const char*, const char*> kNames[] = {
        {"pages-", ".jsonl"}, {"trace-", ".log"}, {"deliveries-", ".jsonl"}};
    constexpr size_t kDayLength = 10; // 2026-12-08
    for (const auto& name : kNames) {
        const std::string strStem = name.first;
        const std::string strExtension = name.second;
        if (strName.size() != strStem.size() + kDayLength + strExtension.size() ||
            strName.compare(0, strStem.size(), strStem) != 0 ||
            strName.compare(strStem.size() + kDayLength, std::string::npos,
                            strExtension) != 0)
            continue;
        const std::string strDay = strName.substr(strStem.size(), kDayLength);
        for (size_t i = 0; i < kDayLength; ++i) {
            const bool bDash = i == 4 || i == 7;
            if (bDash ? strDay[i] != '-' : (strDay[i] < '0' || strDay[i] > '9'))
                return false;
        }
        *pstrDay = strDay;
        return true;
    }
    return false;
}

void CSessionLog::RemoveOldFiles(const std::string& strFolder, std::int64_t nNowMs,
                                 int nDays) {
    if (nDays <= 0)
        return;
    const std::string strCutoff =
        DayText(nNowMs - static_cast<std::int64_t>(nDays) * 24 * 3600 * 1000);
    DIR* pDir = opendir(strFolder.c_str());
    if (pDir == nullptr)
        return;
    while (const dirent* pEntry = readdir(pDir)) {
        const std::string strName = pEntry->d_name;
        std::string strDay;
        // The dates in the names sort as the days do.
        if (IsDailyFileName(strName, &strDay) && strDay < strCutoff)
            unlink((strFolder + "/" + strName).c_str());
    }
    closedir(pDir);
}

std::string CSessionLog::PagesFileName(std::int64_t nTimeMs) {
    return "pages-" + DayText(nTimeMs) + ".jsonl";
}

std::string CSessionLog::TraceFileName(std::int64_t nTimeMs) {
    return "trace-" + DayText(nTimeMs) + ".log";
}

std::string CSessionLog::DeliveriesFileName(std::int64_t nTimeMs) {
    return "deliveries-" + DayText(nTimeMs) + ".jsonl";
}

void CSessionLog::ShowPage(const CPageRecord& record) {
    if (record.bKept) // written before its ACK
        return;
    if (m_bPagesWrittenThrough)
        WritePageNow(record);
    else
        Push(FileKind::kPages, PageRecordJson(record) + "\n");
}

void CSessionLog::ShowDelivery(const CDeliveryEvent& event) {
    Push(FileKind::kDeliveries, DeliveryEventJson(event) + "\n");
}

void CSessionLog::ShowAlert(const CAlertEvent& event) {
    // In the timed trace only: readers of the pages file expect pages.
    m_lines.Note(AlertNote(event));
}

void CSessionLog::ShowTrace(bool bSent, const std::string& strText) {
    m_lines.Trace(bSent, strText);
}

void CSessionLog::ShowNote(const std::string& strNote) {
    m_lines.Note(strNote);
}

void CSessionLog::ShowEvent(const std::string& strEvent) {
    m_lines.Event(strEvent);
}

std::vector<std::string> CSessionLog::TakeReports() {
    std::lock_guard<std::mutex> lock(m_mutex);
    std::vector<std::string> reports;
    reports.swap(m_reports);
    return reports;
}

uint64_t CSessionLog::GetDropped() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_nDropped;
}

void CSessionLog::Report(const std::string& strReport) {
    m_reports.push_back(kPrefix + strReport);
}

void CSessionLog::Push(FileKind kind, std::string strText) {
    bool bWake = false;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_queue.size() >= kQueueLimit) {
            ++m_nDropped;
            if (!m_bOverflowSaid) {
                m_bOverflowSaid = true;
                Report("THE DISK CANNOT KEEP UP, RECORDS ARE DROPPED");
            }
            return;
        }
        bWake = m_queue.empty();
        m_queue.push_back({kind, GetClock().NowMs(), std::move(strText)});
    }
    // Only the first record of a batch wakes the writer: a burst of pages
    // costs the user-interface thread no more than a queue append each.
    if (bWake)
        m_cv.notify_one();
}

void CSessionLog::WriterProc() {
    using Clock = std::chrono::steady_clock;
    Clock::time_point lastSync = Clock::now();
    std::unique_lock<std::mutex> lock(m_mutex);
    for (;;) {
        const bool bDirty = m_pages.bDirty || m_trace.bDirty || m_deliveries.bDirty;
        if (m_queue.empty() && !m_bStop) {
            if (bDirty)
                m_cv.wait_until(lock, lastSync + std::chrono::milliseconds(kSyncMs));
            else
                m_cv.wait(lock);
        }
        if (m_queue.empty() && m_bStop)
            break;
        // The rest of the burst joins the batch: one wake-up and one write
        // pass for many records, still well inside the second allowed.
        if (!m_queue.empty() && !m_bStop)
            m_cv.wait_for(lock, std::chrono::milliseconds(kBatchMs),
                          [this] { return m_bStop; });
        std::deque<CEntry> entries;
        entries.swap(m_queue);
        // Dropped records are said in the trace file once writing works.
        std::string strDropped;
        // (Stamped with the time of the batch: the clock is the UI thread's.)
        const std::int64_t nBatchMs = entries.empty() ? 0 : entries.front().nTimeMs;
        if (m_nDropped > m_nDroppedSaid && !IsFailing() && !entries.empty()) {
            strDropped = TraceTimeText(nBatchMs) + " " + kPrefix +
                         std::to_string(m_nDropped - m_nDroppedSaid) +
                         " RECORDS DROPPED\n";
            m_nDroppedSaid = m_nDropped;
            m_bOverflowSaid = false;
        }
        lock.unlock();
        uint64_t nFailed = 0;
        std::vector<std::string> failures;
        {
            std::lock_guard<std::mutex> fileLock(m_fileMutex);
            if (!strDropped.empty())
                Write({FileKind::kTrace, nBatchMs, strDropped});
            for (const CEntry& entry : entries) {
                if (!Write(entry))
                    ++nFailed;
            }
            failures.swap(m_failures);
        }
        if (Clock::now() - lastSync >= std::chrono::milliseconds(kSyncMs)) {
            SyncFiles();
            lastSync = Clock::now();
        }
        lock.lock();
        m_nDropped += nFailed;
        for (const std::string& strFailure : failures)
            Report(strFailure);
    }
    lock.unlock();
    SyncFiles();
    std::lock_guard<std::mutex> fileLock(m_fileMutex);
    for (CFile* pFile : {&m_pages, &m_trace, &m_deliveries}) {
        if (pFile->fd >= 0)
            close(pFile->fd);
        pFile->fd = -1;
    }
}

bool CSessionLog::IsFailing() {
    std::lock_guard<std::mutex> fileLock(m_fileMutex);
    return !m_strFailingPath.empty();
}

void CSessionLog::WritePageNow(const CPageRecord& record) {
    bool bWritten;
    std::vector<std::string> failures;
    {
        std::lock_guard<std::mutex> fileLock(m_fileMutex);
        bWritten = Write(
            {FileKind::kPages, GetClock().NowMs(), PageRecordJson(record) + "\n"});
        failures.swap(m_failures);
    }
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!bWritten)
        ++m_nDropped;
    for (const std::string& strFailure : failures)
        Report(strFailure);
}

bool CSessionLog::Write(const CEntry& entry) {
    CFile& file = entry.kind == FileKind::kPages        ? m_pages
                  : entry.kind == FileKind::kDeliveries ? m_deliveries
                                                        : m_trace;
    const std::string strPath =
        m_strFolder + "/" +
        (entry.kind == FileKind::kPages        ? PagesFileName(entry.nTimeMs)
         : entry.kind == FileKind::kDeliveries ? DeliveriesFileName(entry.nTimeMs)
                                               : TraceFileName(entry.nTimeMs));
    if (file.strPath != strPath) { // a new day, or the first record
        if (file.fd >= 0) {
            fdatasync(file.fd);
            close(file.fd);
            file.fd = -1;
        }
        // At the day's turn the files that are now too old go.
        const std::string strDay = DayText(entry.nTimeMs);
        if (strDay != m_strCleanedDay) {
            m_strCleanedDay = strDay;
            RemoveOldFiles(m_strFolder, entry.nTimeMs, m_nKeepDays);
        }
    }
    file.strPath = strPath;
    int nError = 0;
    if (file.fd < 0) {
        file.fd =
            open(strPath.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
        if (file.fd < 0)
            nError = errno;
    }
    if (nError == 0) {
        // A record the disk took only in part is taken back: the file
        // holds whole lines only.
        const off_t nEnd = lseek(file.fd, 0, SEEK_END);
        nError = WriteAll(file.fd, entry.strText);
        if (nError != 0 && nEnd >= 0 && ftruncate(file.fd, nEnd) != 0)
            nError = errno;
    }
    if (nError != 0) {
        // Once per outage; the file is opened afresh for the next record.
        if (m_strFailingPath.empty()) {
            m_failures.push_back("CANNOT WRITE " + strPath + ": " +
                                 std::strerror(nError));
            m_strFailingPath = strPath;
        }
        if (file.fd >= 0)
            close(file.fd);
        file.fd = -1;
        return false;
    }
    // The outage ends when the file that failed takes a record again; the
    // others may have worked on all along (a size limit is per file).
    if (m_strFailingPath == strPath) {
        m_strFailingPath.clear();
        m_failures.push_back("WRITING AGAIN TO " + strPath);
    }
    file.bDirty = true;
    return true;
}

void CSessionLog::SyncFiles() {
    // Synced through copies of the descriptors, so that a page written now
    // (WritePageNow) does not wait for the disk's sync.
    std::vector<int> fds;
    {
        std::lock_guard<std::mutex> fileLock(m_fileMutex);
        for (CFile* pFile : {&m_pages, &m_trace, &m_deliveries}) {
            if (pFile->fd >= 0 && pFile->bDirty) {
                const int fd = fcntl(pFile->fd, F_DUPFD_CLOEXEC, 0);
                if (fd >= 0)
                    fds.push_back(fd);
            }
            pFile->bDirty = false;
        }
    }
    for (int fd : fds) {
        fdatasync(fd);
        close(fd);
    }
}
