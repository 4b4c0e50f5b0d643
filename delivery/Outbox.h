// COutbox: the pages the line accepted and their deliveries, kept on disk
// in one SQLite file so that nothing acknowledged is lost to a restart, a
// crash or a kill.
//
// The file is in WAL mode with synchronous=FULL: once Accept returns true
// the page and one pending delivery per target it goes to are on the disk,
// and only then is the page acknowledged on the line. Each target's worker
// takes its due deliveries in the order the pages were accepted, and
// records every attempt (time, outcome, reason) with the delivery's new
// state in one transaction per batch.
//
// One object is one connection: each thread that uses the outbox opens its
// own (the session's thread to accept pages, each target's worker to
// deliver them); SQLite serialises their writes. An object is used by one
// thread at a time.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

struct sqlite3;

// A page to keep until it has been delivered everywhere it goes.
struct CStoredPage {
    std::string strId; // unique, the same for every target and attempt
    std::int64_t nAcceptedMs = 0;
    int nPort = 0;
    std::string strPager;
    std::string strMessage;
    std::string strTime;   // the record's local ISO time
    std::string strRecord; // the JSON record, one line, with its "id"
};

enum class DeliveryState { kPending, kDelivered, kFailed, kExpired, kCancelled };
const char* DeliveryStateName(DeliveryState state); // "pending", "delivered", ...

// A pending delivery that is due.
struct CDueDelivery {
    std::int64_t nSeq = 0; // the page's place in the order of acceptance
    int nAttempts = 0;     // attempts made before this one
    CStoredPage page;
};

// What one attempt came to, for Record.
struct CAttemptResult {
    std::int64_t nSeq = 0;
    std::int64_t nTimeMs = 0;
    DeliveryState state = DeliveryState::kPending; // pending: tried again later
    std::string strReason;
    std::string strDetail;
    std::int64_t nNextMs = 0; // pending: when it is due again
};

struct CTargetCounts {
    std::int64_t nPending = 0;
    std::int64_t nDelivered = 0;
    std::int64_t nFailed = 0;
    std::int64_t nExpired = 0;
    std::int64_t nOldestPendingMs = 0; // acceptance time of the oldest pending; 0: none
    std::string strOldestPendingPager;
};

// One target's delivery of one page, for the Deliveries window.
struct CDeliveryStatus {
    std::string strTarget;
    DeliveryState state = DeliveryState::kPending;
    int nAttempts = 0;
    std::string strLastReason;
};
struct CPageStatus {
    std::string strId;
    std::int64_t nAcceptedMs = 0;
    int nPort = 0;
    std::string strPager;
    std::string strMessage;
    std::vector<CDeliveryStatus> deliveries;
};

class COutbox {
  public:
    ~COutbox();
    COutbox(const COutbox&) = delete;
    COutbox& operator=(const COutbox&) = delete;

    // Opens the file, making it and its folder when they are missing. With
    // bCheck, a file that fails SQLite's quick check (or is no database) is
    // moved aside as <path>.damaged-YYYYMMDD-HHMMSS, a new one is begun and
    // *pstrDamage says so. Null, with the reason in *pstrError, when the
    // file cannot be opened or made.
    static std::unique_ptr<COutbox> Open(const std::string& strPath, bool bCheck,
                                         std::string* pstrError,
                                         std::string* pstrDamage = nullptr);
    // Opens an existing file to read it only (volnex --outbox); null when
    // there is none or it cannot be read.
    static std::unique_ptr<COutbox> OpenReadOnly(const std::string& strPath,
                                                 std::string* pstrError);

    // The page and a pending delivery to each target, in one transaction
    // that is on the disk when this returns true. False, with SQLite's
    // reason, when it could not be stored (nothing of it is then kept).
    bool Accept(const CStoredPage& page, const std::vector<std::string>& targets,
                const std::vector<std::int64_t>& expireMs, std::string* pstrError);

    // The target's pending deliveries that are due at nNowMs, oldest page
    // first, at most nMax; none while the oldest pending one is not due
    // (pages leave in the order they came). Deliveries past their expiry
    // are marked expired first and returned in *pExpired.
    std::vector<CDueDelivery> TakeDue(const std::string& strTarget, std::int64_t nNowMs,
                                      size_t nMax, std::vector<CDueDelivery>* pExpired);
    // When the target's oldest pending delivery is due; -1 when none waits.
    std::int64_t NextDueMs(const std::string& strTarget);
    // Records the attempts and the deliveries' new states in one
    // transaction. A delivery no longer pending (cancelled meanwhile) keeps
    // its state unless the attempt delivered it.
    bool Record(const std::string& strTarget,
                const std::vector<CAttemptResult>& results, std::string* pstrError);

    // The page's deliveries still pending are cancelled; returns the
    // targets that already had it.
    std::vector<std::string> Cancel(const std::string& strId);
    // Every pending delivery of the target is due now.
    bool RetryTarget(const std::string& strTarget, std::int64_t nNowMs);
    // The page's failed or expired deliveries are pending again, due now
    // (with a new expiry nExpireMs from now); empty strTarget: every target.
    bool RetryPage(const std::string& strId, const std::string& strTarget,
                   std::int64_t nNowMs, std::int64_t nExpireMs);

    CTargetCounts Counts(const std::string& strTarget);
    // The targets that have any delivery in the file.
    std::vector<std::string> Targets();
    // The newest pages first, with each target's delivery.
    std::vector<CPageStatus> Recent(size_t nMax);
    // Removes pages that no delivery waits for any more and that were
    // accepted before nBeforeMs; returns how many went.
    std::int64_t RemoveFinishedBefore(std::int64_t nBeforeMs);
    const std::string& GetPath() const { return m_strPath; }

  private:
    COutbox(sqlite3* pDb, std::string strPath);
    bool Exec(const char* szSql, std::string* pstrError = nullptr);
    std::string LastError() const;

    sqlite3* m_pDb;
    std::string m_strPath;
};

// A new page id: a random (version 4) UUID.
std::string NewPageId();
