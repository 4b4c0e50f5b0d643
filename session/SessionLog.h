// CSessionLog: the session written down as it happens, whether or not the
// protocol window is open: pages-YYYY-MM-DD.jsonl (one JSON object a line
// per page result), trace-YYYY-MM-DD.log (the protocol lines and line
// events, each with its time to the millisecond) and, when pages are
// delivered onward, deliveries-YYYY-MM-DD.jsonl (one JSON object a line per
// attempt), in one folder, new files each day.
//
// The line never waits for the disk, with one exception: the record of a
// page that waits for it to be out before its ACK (WritePageNow) is written
// at once, one write() and no fdatasync, so that a process killed after the
// ACK has it in the file. The session hands other records over on the
// user-interface thread (as a second ISessionDisplay); they go into a
// bounded queue that a writer thread of its own drains. Each record is one
// write() of whole lines, and fdatasync runs at most once a second, so a
// crash loses at most the last second. When the queue is full the record
// is dropped and counted; when a write fails (a full disk, a size limit,
// the folder gone) the record is dropped too, the failure is reported once
// with the path and the reason, and writing starts again when it can.
// Problems reach the operator through TakeReports, on the UI thread.
#pragma once

#include "session/SessionDisplay.h"
#include "session/TraceLines.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

class CSessionLog : public ISessionDisplay {
  public:
    static constexpr size_t kQueueLimit = 65536; // records, a few MB at most
    static constexpr int kSyncMs = 1000;
    static constexpr int kBatchMs = 50;

    explicit CSessionLog(const std::string& strFolder);
    ~CSessionLog() override; // writes what is queued, then ends the writer

    CSessionLog(const CSessionLog&) = delete;
    CSessionLog& operator=(const CSessionLog&) = delete;

    void ShowSession() override {}
    void ShowPage(const CPageRecord& record) override;
    void ShowTrace(bool bSent, const std::string& strText) override;
    void ShowNote(const std::string& strNote) override;
    void ShowEvent(const std::string& strEvent) override;
    void ShowDelivery(const CDeliveryEvent& event) override;
    // The alert's line in the timed trace.
    void ShowAlert(const CAlertEvent& event) override;
    // Writes the record to the day's pages file now, on the calling thread
    // (after what the writer thread is writing). A failure is reported as
    // any other and the record is counted as dropped.
    void WritePageNow(const CPageRecord& record);
    // Every page record is written at once (WritePageNow), in the order
    // the pages came: for a face whose acknowledged pages are written so.
    void SetPagesWrittenThrough(bool bOn) { m_bPagesWrittenThrough = bOn; }

    // Writes what is queued and ends the writer; what comes after is
    // dropped. TakeReports then has the last problems.
    void Finish();
    // The problems to tell the operator since the last call, each once
    // ("   SESSION LOG: CANNOT WRITE <path>: No space left on device").
    std::vector<std::string> TakeReports();
    const std::string& GetFolder() const { return m_strFolder; }
    // Daily files older than this many days are removed now (on the calling
    // thread) and when a day's first file is begun; 0 keeps them all.
    static constexpr int kDefaultKeepDays = 30;
    void SetKeepDays(int nDays);
    // LogKeepDays: whole days, empty for the default. False (and the
    // default) for any other text.
    static bool ParseKeepDays(const std::string& strValue, int* pnDays);
    // Removes this log's own daily files dated before nDays days before
    // nNowMs; files of other names are left alone.
    static void RemoveOldFiles(const std::string& strFolder, std::int64_t nNowMs,
                               int nDays);
    // True, with its day ("2026-12-08"), for a name this log's files have.
    static bool IsDailyFileName(const std::string& strName, std::string* pstrDay);
    // Records dropped so far (queue full or write failed).
    uint64_t GetDropped() const;

    // "pages-2026-12-08.jsonl", "trace-2026-12-08.log" for a local time.
    static std::string PagesFileName(std::int64_t nTimeMs);
    static std::string TraceFileName(std::int64_t nTimeMs);
    static std::string DeliveriesFileName(std::int64_t nTimeMs);

  private:
    enum class FileKind { kPages, kTrace, kDeliveries };
    struct CEntry {
        FileKind kind;
        std::int64_t nTimeMs;
        std::string strText; // whole lines, each ending in LF
    };
    struct CFile {
        std::string strPath;
        int fd = -1;
        bool bDirty = false;
    };
    void Push(FileKind kind, std::string strText);
    void WriterProc();
    // Appends the entry to its day's file, m_fileMutex held.
    bool Write(const CEntry& entry);
    void Report(const std::string& strReport); // under m_mutex
    void SyncFiles();
    bool IsFailing(); // takes m_fileMutex

    std::string m_strFolder;
    CTraceLines m_lines;                 // UI thread
    bool m_bPagesWrittenThrough = false; // UI thread
    mutable std::mutex m_mutex;
    std::condition_variable m_cv;
    std::deque<CEntry> m_queue;
    bool m_bStop = false;
    bool m_bOverflowSaid = false;
    uint64_t m_nDropped = 0;
    uint64_t m_nDroppedSaid = 0; // dropped records the trace file was told of
    std::vector<std::string> m_reports;
    // The files and their failure state: the writer thread's, and the
    // caller's of WritePageNow. m_mutex is never taken while it is held.
    std::mutex m_fileMutex;
    CFile m_pages;
    CFile m_trace;
    CFile m_deliveries;
    // Failures and recoveries Write noted: one failure an outage, which
    // ends when the file that failed (m_strFailingPath) is written again.
    std::vector<std::string> m_failures;
    std::string m_strFailingPath;
    std::atomic<int> m_nKeepDays{kDefaultKeepDays};
    // The day old files were last looked for; under m_fileMutex.
    std::string m_strCleanedDay;
    std::thread m_writer;
};
