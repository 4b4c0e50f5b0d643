#include "delivery/Outbox.h"

#include "settings/Profile.h"

#include <sqlite3.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Waits this long for another connection's write before giving up: a
// worker's commit takes milliseconds, so only a stuck process waits out.
constexpr int kBusyTimeoutMs = 5000;

constexpr const char* kSchema = R"(
CREATE TABLE IF NOT EXISTS pages(
  seq INTEGER PRIMARY KEY AUTOINCREMENT,
  id TEXT NOT NULL UNIQUE,
  accepted_ms INTEGER NOT NULL,
  port INTEGER NOT NULL,
  pager TEXT NOT NULL,
  message TEXT NOT NULL,
  time TEXT NOT NULL,
  record TEXT NOT NULL);
CREATE TABLE IF NOT EXISTS deliveries(
  page_seq INTEGER NOT NULL,
  target TEXT NOT NULL,
  state INTEGER NOT NULL,
  attempts INTEGER NOT NULL DEFAULT 0,
  next_ms INTEGER NOT NULL,
  expire_ms INTEGER NOT NULL,
  last_reason TEXT NOT NULL DEFAULT '',
  done_ms INTEGER NOT NULL DEFAULT 0,
  PRIMARY KEY(page_seq, target));
CREATE INDEX IF NOT EXISTS deliveries_by_state ON deliveries(target, state, page_seq);
CREATE TABLE IF NOT EXISTS attempts(
  page_seq INTEGER NOT NULL,
  target TEXT NOT NULL,
  time_ms INTEGER NOT NULL,
  outcome INTEGER NOT NULL,
  reason TEXT NOT NULL,
  detail TEXT NOT NULL);
CREATE INDEX IF NOT EXISTS attempts_by_page ON attempts(page_seq);
)";

// A prepared statement, finalised when it goes.
class CStatement {
  public:
    CStatement(sqlite3* pDb, const char* szSql) {
        if (sqlite3_prepare_v2(pDb, szSql, -1, &m_p, nullptr) != SQLITE_OK)
            m_p = nullptr;
    }
    ~CStatement() { sqlite3_finalize(m_p); }
    CStatement(const CStatement&) = delete;
    CStatement& operator=(const CStatement&) = delete;

    bool Ok() const { return m_p != nullptr; }
    CStatement& Bind(int n, std::int64_t nValue) {
        sqlite3_bind_int64(m_p, n, nValue);
        return *this;
    }
    CStatement& Bind(int n, const std::string& strValue) {
        sqlite3_bind_text(m_p, n, strValue.data(), static_cast<int>(strValue.size()),
                          SQLITE_TRANSIENT);
        return *this;
    }
    // SQLITE_ROW, SQLITE_DONE or an error.
    int Step() { return m_p != nullptr ? sqlite3_step(m_p) : SQLITE_ERROR; }
    void Reset() {
        sqlite3_reset(m_p);
        sqlite3_clear_bindings(m_p);
    }
    std::int64_t Int(int n) const { return sqlite3_column_int64(m_p, n); }
    std::string Text(int n) const {
        const unsigned char* p = sqlite3_column_text(m_p, n);
        return p != nullptr
                   ? std::string(reinterpret_cast<const char*>(p),
                                 static_cast<size_t>(sqlite3_column_bytes(m_p, n)))
                   : std::string();
    }

  private:
    sqlite3_stmt* m_p = nullptr;
};

int StateCode(DeliveryState state) {
    return static_cast<int>(state);
}

DeliveryState StateOf(std::int64_t nCode) {
    return nCode >= 0 && nCode <= static_cast<int>(DeliveryState::kCancelled)
               ? static_cast<DeliveryState>(nCode)
               : DeliveryState::kFailed;
}

std::string FolderOf(const std::string& strPath) {
    const size_t nSlash = strPath.find_last_of('/');
    return nSlash == std::string::npos ? std::string(".") : strPath.substr(0, nSlash);
}

std::string DamagedName(const std::string& strPath) {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char szWhen[32];
    std::strftime(szWhen, sizeof szWhen, "%Y%m%d-%H%M%S", &local);
    return strPath + ".damaged-" + szWhen;
}

// Another connection holds the write lock: its commit takes a fraction of a
// millisecond, so look again soon (SQLite's own timeout sleeps a whole
// millisecond and more between looks, which the line would feel in every
// answer that meets a worker's commit). Gives up after kBusyTimeoutMs.
int WaitForLock(void*, int nTries) {
    constexpr int kPauseUs = 100;
    if (nTries * kPauseUs >= kBusyTimeoutMs * 1000)
        return 0;
    usleep(kPauseUs);
    return 1;
}

// Opens and sets up a connection; null with the reason when it cannot.
sqlite3* OpenConnection(const std::string& strPath, int nFlags,
                        std::string* pstrError) {
    sqlite3* pDb = nullptr;
    const int nResult =
        sqlite3_open_v2(strPath.c_str(), &pDb, nFlags | SQLITE_OPEN_FULLMUTEX, nullptr);
    if (nResult != SQLITE_OK) {
        if (pstrError != nullptr)
            *pstrError = pDb != nullptr ? sqlite3_errmsg(pDb) : sqlite3_errstr(nResult);
        sqlite3_close(pDb);
        return nullptr;
    }
    sqlite3_busy_handler(pDb, &WaitForLock, nullptr);
    sqlite3_extended_result_codes(pDb, 1);
    return pDb;
}

enum class Health { kOk, kDamaged, kUnreadable };

// Only a file SQLite finds corrupt, or no database at all, is damaged: a
// busy or unreadable one is an error to report, never a reason to move a
// file full of acknowledged pages aside.
Health CheckHealth(sqlite3* pDb, std::string* pstrWhy) {
    sqlite3_stmt* pCheck = nullptr;
    int nResult = sqlite3_prepare_v2(pDb, "PRAGMA quick_check", -1, &pCheck, nullptr);
    if (nResult == SQLITE_OK)
        nResult = sqlite3_step(pCheck);
    Health health = Health::kOk;
    if (nResult == SQLITE_ROW) {
        const unsigned char* p = sqlite3_column_text(pCheck, 0);
        if (p == nullptr || std::string(reinterpret_cast<const char*>(p)) != "ok")
            health = Health::kDamaged;
    } else {
        const int nPrimary = sqlite3_errcode(pDb) & 0xFF;
        health = nPrimary == SQLITE_CORRUPT || nPrimary == SQLITE_NOTADB
                     ? Health::kDamaged
                     : Health::kUnreadable;
        *pstrWhy = sqlite3_errmsg(pDb);
    }
    sqlite3_finalize(pCheck);
    return health;
}

// The outbox holds the messages: its owner's alone. SQLite gives its -wal
// and -shm files the main file's mode, so this comes before they exist.
void MakePrivate(const std::string& strPath) {
    const int fd = open(strPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd >= 0) {
        fchmod(fd, 0600);
        close(fd);
    }
}

} // namespace

const char* DeliveryStateName(DeliveryState state) {
    switch (state) {
    case DeliveryState::kPending: return "pending";
    case DeliveryState::kDelivered: return "delivered";
    case DeliveryState::kFailed: return "failed";
    case DeliveryState::kExpired: return "expired";
    case DeliveryState::kCancelled: return "cancelled";
    }
    return "";
}

std::string NewPageId() {
    unsigned char bytes[16];
    size_t nHave = 0;
    while (nHave < sizeof bytes) {
        const ssize_t n = getrandom(bytes + nHave, sizeof bytes - nHave, 0);
        if (n > 0)
            nHave += static_cast<size_t>(n);
        else if (errno != EINTR)
            break;
    }
    bytes[6] = static_cast<unsigned char>((bytes[6] & 0x0F) | 0x40); // version 4
    bytes[8] = static_cast<unsigned char>((bytes[8] & 0x3F) | 0x80); // RFC 4122 variant
    char szId[37];
    std::snprintf(
        szId, sizeof szId,
        "%02x%02x%02x%02x-%02x%02x-%02x%02x-%02x%02x-%02x%02x%02x%02x%02x%02x",
        bytes[0], bytes[1], bytes[2], bytes[3], bytes[4], bytes[5], bytes[6], bytes[7],
        bytes[8], bytes[9], bytes[10], bytes[11], bytes[12], bytes[13], bytes[14],
        bytes[15]);
    return szId;
}

COutbox::COutbox(sqlite3* pDb, std::string strPath)
    : m_pDb(pDb), m_strPath(std::move(strPath)) {}

COutbox::~COutbox() {
    sqlite3_close_v2(m_pDb);
}

std::unique_ptr<COutbox> COutbox::Open(const std::string& strPath, bool bCheck,
                                       std::string* pstrError,
                                       std::string* pstrDamage) {
    // The outbox holds the messages: the user's own, as the state folder's
    // convention has it.
    if (int nError = MakeFolders(FolderOf(strPath), 0700)) {
        *pstrError = FolderOf(strPath) + ": " + std::strerror(nError);
        return nullptr;
    }
    const int nFlags = SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE;
    std::string strWhy;
    MakePrivate(strPath);
    sqlite3* pDb = OpenConnection(strPath, nFlags, &strWhy);
    if (pDb == nullptr) {
        *pstrError = strPath + ": " + strWhy;
        return nullptr;
    }
    const Health health = bCheck ? CheckHealth(pDb, &strWhy) : Health::kOk;
    if (health == Health::kUnreadable) {
        sqlite3_close_v2(pDb);
        *pstrError = strPath + ": " + strWhy;
        return nullptr;
    }
    if (health == Health::kDamaged) {
        // Kept for whoever wants to rescue it; the line goes on with a new one.
        sqlite3_close_v2(pDb);
        const std::string strAside = DamagedName(strPath);
        if (rename(strPath.c_str(), strAside.c_str()) != 0) {
            *pstrError = strPath + " is damaged and cannot be moved aside: " +
                         std::strerror(errno);
            return nullptr;
        }
        for (const char* szSuffix : {"-wal", "-shm"}) {
            const std::string strFrom = strPath + szSuffix;
            if (access(strFrom.c_str(), F_OK) == 0)
                rename(strFrom.c_str(), (strAside + szSuffix).c_str());
        }
        if (pstrDamage != nullptr)
            *pstrDamage =
                "The outbox " + strPath + " was damaged. It was moved aside as " +
                strAside +
                " and a new one begun: pages waiting in it are not delivered.";
        MakePrivate(strPath);
        pDb = OpenConnection(strPath, nFlags, &strWhy);
        if (pDb == nullptr) {
            *pstrError = strPath + ": " + strWhy;
            return nullptr;
        }
    }
    std::unique_ptr<COutbox> pOutbox(new COutbox(pDb, strPath));
    if (!pOutbox->Exec("PRAGMA journal_mode=WAL", &strWhy) ||
        !pOutbox->Exec("PRAGMA synchronous=FULL", &strWhy) ||
        !pOutbox->Exec(kSchema, &strWhy)) {
        *pstrError = strPath + ": " + strWhy;
        return nullptr;
    }
    return pOutbox;
}

std::unique_ptr<COutbox> COutbox::OpenReadOnly(const std::string& strPath,
                                               std::string* pstrError) {
    if (access(strPath.c_str(), F_OK) != 0) {
        *pstrError = strPath + ": " + std::strerror(errno);
        return nullptr;
    }
    std::string strWhy;
    sqlite3* pDb = OpenConnection(strPath, SQLITE_OPEN_READONLY, &strWhy);
    if (pDb == nullptr) {
        *pstrError = strPath + ": " + strWhy;
        return nullptr;
    }
    std::unique_ptr<COutbox> pOutbox(new COutbox(pDb, strPath));
    CStatement probe(pDb, "SELECT count(*) FROM deliveries");
    if (!probe.Ok() || probe.Step() != SQLITE_ROW) {
        *pstrError = strPath + ": " + pOutbox->LastError();
        return nullptr;
    }
    return pOutbox;
}

bool COutbox::Exec(const char* szSql, std::string* pstrError) {
    char* szError = nullptr;
    if (sqlite3_exec(m_pDb, szSql, nullptr, nullptr, &szError) == SQLITE_OK)
        return true;
    if (pstrError != nullptr)
        *pstrError = szError != nullptr ? szError : LastError();
    sqlite3_free(szError);
    return false;
}

std::string COutbox::LastError() const {
    return sqlite3_errmsg(m_pDb);
}

bool COutbox::Accept(const CStoredPage& page, const std::vector<std::string>& targets,
                     const std::vector<std::int64_t>& expireMs,
                     std::string* pstrError) {
    if (!Exec("BEGIN IMMEDIATE", pstrError))
        return false;
    bool bOk = true;
    {
        CStatement insertPage(m_pDb, "INSERT INTO pages(id, accepted_ms, port, pager, "
                                     "message, time, record) VALUES(?,?,?,?,?,?,?)");
        bOk = insertPage.Ok() && insertPage.Bind(1, page.strId)
                                         .Bind(2, page.nAcceptedMs)
                                         .Bind(3, page.nPort)
                                         .Bind(4, page.strPager)
                                         .Bind(5, page.strMessage)
                                         .Bind(6, page.strTime)
                                         .Bind(7, page.strRecord)
                                         .Step() == SQLITE_DONE;
        const std::int64_t nSeq = sqlite3_last_insert_rowid(m_pDb);
        CStatement insertDelivery(m_pDb,
                                  "INSERT INTO deliveries(page_seq, target, state, "
                                  "next_ms, expire_ms) VALUES(?,?,?,?,?)");
        bOk = bOk && insertDelivery.Ok();
        for (size_t i = 0; bOk && i < targets.size(); ++i) {
            const std::int64_t nExpire = i < expireMs.size() ? expireMs[i] : 0;
            bOk = insertDelivery.Bind(1, nSeq)
                      .Bind(2, targets[i])
                      .Bind(3, StateCode(DeliveryState::kPending))
                      .Bind(4, page.nAcceptedMs)
                      .Bind(5, page.nAcceptedMs + nExpire)
                      .Step() == SQLITE_DONE;
            insertDelivery.Reset();
        }
    }
    if (bOk && Exec("COMMIT", pstrError))
        return true;
    if (pstrError != nullptr && bOk == false)
        *pstrError = LastError();
    Exec("ROLLBACK");
    return false;
}

std::vector<CDueDelivery> COutbox::TakeDue(const std::string& strTarget,
                                           std::int64_t nNowMs, size_t nMax,
                                           std::vector<CDueDelivery>* pExpired) {
    // Read without the write lock, so that the line's commits never wait
    // for it; only expiring takes the lock, briefly.
    std::vector<CDueDelivery> due;
    std::vector<CDueDelivery> expired;
    {
        CStatement select(
            m_pDb,
            "SELECT d.page_seq, d.attempts, d.next_ms, d.expire_ms, p.id, "
            "p.accepted_ms, p.port, p.pager, p.message, p.time, p.record FROM "
            "deliveries d JOIN pages p ON p.seq = d.page_seq WHERE d.target = ? AND "
            "d.state = ? ORDER BY d.page_seq LIMIT ?");
        select.Bind(1, strTarget)
            .Bind(2, StateCode(DeliveryState::kPending))
            .Bind(3, static_cast<std::int64_t>(nMax));
        while (select.Step() == SQLITE_ROW) {
            CDueDelivery delivery;
            delivery.nSeq = select.Int(0);
            delivery.nAttempts = static_cast<int>(select.Int(1));
            const std::int64_t nNextMs = select.Int(2);
            const std::int64_t nExpireMs = select.Int(3);
            delivery.page.strId = select.Text(4);
            delivery.page.nAcceptedMs = select.Int(5);
            delivery.page.nPort = static_cast<int>(select.Int(6));
            delivery.page.strPager = select.Text(7);
            delivery.page.strMessage = select.Text(8);
            delivery.page.strTime = select.Text(9);
            delivery.page.strRecord = select.Text(10);
            if (nExpireMs <= nNowMs) {
                expired.push_back(std::move(delivery));
                continue;
            }
            // In order: a page that is not due yet holds back those after it.
            if (nNextMs > nNowMs)
                break;
            due.push_back(std::move(delivery));
        }
    }
    if (!expired.empty() && Exec("BEGIN IMMEDIATE")) {
        {
            CStatement expire(m_pDb, "UPDATE deliveries SET state = ?, done_ms = ?, "
                                     "last_reason = 'EXPIRED' WHERE page_seq = ? AND "
                                     "target = ? AND state = ?");
            for (const CDueDelivery& delivery : expired) {
                expire.Bind(1, StateCode(DeliveryState::kExpired))
                    .Bind(2, nNowMs)
                    .Bind(3, delivery.nSeq)
                    .Bind(4, strTarget)
                    .Bind(5, StateCode(DeliveryState::kPending))
                    .Step();
                expire.Reset();
            }
        }
        if (!Exec("COMMIT")) {
            Exec("ROLLBACK");
            expired.clear(); // still pending: expired at the next look
        }
    } else {
        expired.clear();
    }
    if (pExpired != nullptr)
        for (CDueDelivery& delivery : expired)
            pExpired->push_back(std::move(delivery));
    return due;
}

std::int64_t COutbox::NextDueMs(const std::string& strTarget) {
    CStatement select(m_pDb,
                      "SELECT next_ms, expire_ms FROM deliveries WHERE target = ? "
                      "AND state = ? ORDER BY page_seq LIMIT 1");
    select.Bind(1, strTarget).Bind(2, StateCode(DeliveryState::kPending));
    if (select.Step() != SQLITE_ROW)
        return -1;
    return std::min(select.Int(0), select.Int(1));
}

bool COutbox::Record(const std::string& strTarget,
                     const std::vector<CAttemptResult>& results,
                     std::string* pstrError) {
    if (results.empty())
        return true;
    if (!Exec("BEGIN IMMEDIATE", pstrError))
        return false;
    bool bOk = true;
    {
        CStatement attempt(m_pDb,
                           "INSERT INTO attempts(page_seq, target, time_ms, outcome, "
                           "reason, detail) VALUES(?,?,?,?,?,?)");
        // A delivery cancelled meanwhile stays so, unless this attempt got
        // it through: then it was delivered after all.
        CStatement update(
            m_pDb, "UPDATE deliveries SET attempts = attempts + 1, last_reason = ?, "
                   "state = CASE WHEN state = ? OR ? = ? THEN ? ELSE state END, "
                   "next_ms = ?, done_ms = ? WHERE page_seq = ? AND target = ?");
        bOk = attempt.Ok() && update.Ok();
        for (const CAttemptResult& result : results) {
            if (!bOk)
                break;
            const int nState = StateCode(result.state);
            bOk = attempt.Bind(1, result.nSeq)
                      .Bind(2, strTarget)
                      .Bind(3, result.nTimeMs)
                      .Bind(4, nState)
                      .Bind(5, result.strReason)
                      .Bind(6, result.strDetail)
                      .Step() == SQLITE_DONE;
            attempt.Reset();
            const bool bFinal = result.state != DeliveryState::kPending;
            bOk = bOk && update.Bind(1, result.strReason)
                                 .Bind(2, StateCode(DeliveryState::kPending))
                                 .Bind(3, nState)
                                 .Bind(4, StateCode(DeliveryState::kDelivered))
                                 .Bind(5, nState)
                                 .Bind(6, result.nNextMs)
                                 .Bind(7, bFinal ? result.nTimeMs : 0)
                                 .Bind(8, result.nSeq)
                                 .Bind(9, strTarget)
                                 .Step() == SQLITE_DONE;
            update.Reset();
        }
    }
    if (bOk && Exec("COMMIT", pstrError))
        return true;
    if (pstrError != nullptr && !bOk)
        *pstrError = LastError();
    Exec("ROLLBACK");
    return false;
}

std::vector<std::string> COutbox::Cancel(const std::string& strId) {
    std::vector<std::string> delivered;
    if (!Exec("BEGIN IMMEDIATE"))
        return delivered;
    {
        CStatement cancel(m_pDb,
                          "UPDATE deliveries SET state = ?, last_reason = 'CANCELLED' "
                          "WHERE state = ? AND page_seq = "
                          "(SELECT seq FROM pages WHERE id = ?)");
        cancel.Bind(1, StateCode(DeliveryState::kCancelled))
            .Bind(2, StateCode(DeliveryState::kPending))
            .Bind(3, strId)
            .Step();
        CStatement had(m_pDb,
                       "SELECT target FROM deliveries WHERE state = ? AND page_seq = "
                       "(SELECT seq FROM pages WHERE id = ?) ORDER BY target");
        had.Bind(1, StateCode(DeliveryState::kDelivered)).Bind(2, strId);
        while (had.Step() == SQLITE_ROW)
            delivered.push_back(had.Text(0));
    }
    // A transaction left open would hold the write lock for good.
    if (!Exec("COMMIT"))
        Exec("ROLLBACK");
    return delivered;
}

bool COutbox::RetryTarget(const std::string& strTarget, std::int64_t nNowMs) {
    CStatement retry(
        m_pDb, "UPDATE deliveries SET next_ms = ? WHERE target = ? AND state = ?");
    return retry.Bind(1, nNowMs)
               .Bind(2, strTarget)
               .Bind(3, StateCode(DeliveryState::kPending))
               .Step() == SQLITE_DONE;
}

bool COutbox::RetryPage(const std::string& strId, const std::string& strTarget,
                        std::int64_t nNowMs, std::int64_t nExpireMs) {
    CStatement retry(m_pDb,
                     "UPDATE deliveries SET state = ?, next_ms = ?, expire_ms = ?, "
                     "done_ms = 0 WHERE (state = ? OR state = ?) AND (? = '' OR "
                     "target = ?) AND page_seq = (SELECT seq FROM pages WHERE id = ?)");
    return retry.Bind(1, StateCode(DeliveryState::kPending))
               .Bind(2, nNowMs)
               .Bind(3, nNowMs + nExpireMs)
               .Bind(4, StateCode(DeliveryState::kFailed))
               .Bind(5, StateCode(DeliveryState::kExpired))
               .Bind(6, strTarget)
               .Bind(7, strTarget)
               .Bind(8, strId)
               .Step() == SQLITE_DONE;
}

CTargetCounts COutbox::Counts(const std::string& strTarget) {
    CTargetCounts counts;
    CStatement count(m_pDb, "SELECT state, count(*) FROM deliveries WHERE target = ? "
                            "GROUP BY state");
    count.Bind(1, strTarget);
    while (count.Step() == SQLITE_ROW) {
        switch (StateOf(count.Int(0))) {
        case DeliveryState::kPending: counts.nPending = count.Int(1); break;
        case DeliveryState::kDelivered: counts.nDelivered = count.Int(1); break;
        case DeliveryState::kFailed: counts.nFailed = count.Int(1); break;
        case DeliveryState::kExpired: counts.nExpired = count.Int(1); break;
        case DeliveryState::kCancelled: break;
        }
    }
    CStatement oldest(m_pDb,
                      "SELECT p.accepted_ms, p.pager FROM deliveries d JOIN pages p "
                      "ON p.seq = d.page_seq WHERE d.target = ? AND d.state = ? "
                      "ORDER BY d.page_seq LIMIT 1");
    oldest.Bind(1, strTarget).Bind(2, StateCode(DeliveryState::kPending));
    if (oldest.Step() == SQLITE_ROW) {
        counts.nOldestPendingMs = oldest.Int(0);
        counts.strOldestPendingPager = oldest.Text(1);
    }
    return counts;
}

std::vector<std::string> COutbox::Targets() {
    std::vector<std::string> targets;
    CStatement select(m_pDb, "SELECT DISTINCT target FROM deliveries ORDER BY target");
    while (select.Step() == SQLITE_ROW)
        targets.push_back(select.Text(0));
    return targets;
}

std::vector<CPageStatus> COutbox::Recent(size_t nMax) {
    std::vector<CPageStatus> pages;
    CStatement select(m_pDb,
                      "SELECT seq, id, accepted_ms, port, pager, message FROM pages "
                      "ORDER BY seq DESC LIMIT ?");
    CStatement deliveries(m_pDb, "SELECT target, state, attempts, last_reason FROM "
                                 "deliveries WHERE page_seq = ? ORDER BY target");
    select.Bind(1, static_cast<std::int64_t>(nMax));
    while (select.Step() == SQLITE_ROW) {
        CPageStatus page;
        page.strId = select.Text(1);
        page.nAcceptedMs = select.Int(2);
        page.nPort = static_cast<int>(select.Int(3));
        page.strPager = select.Text(4);
        page.strMessage = select.Text(5);
        deliveries.Bind(1, select.Int(0));
        while (deliveries.Step() == SQLITE_ROW)
            page.deliveries.push_back({deliveries.Text(0), StateOf(deliveries.Int(1)),
                                       static_cast<int>(deliveries.Int(2)),
                                       deliveries.Text(3)});
        deliveries.Reset();
        pages.push_back(std::move(page));
    }
    return pages;
}

std::int64_t COutbox::RemoveFinishedBefore(std::int64_t nBeforeMs) {
    if (!Exec("BEGIN IMMEDIATE"))
        return 0;
    const char* szDone =
        "SELECT seq FROM pages WHERE accepted_ms < ? AND NOT EXISTS "
        "(SELECT 1 FROM deliveries WHERE page_seq = seq AND state = ?)";
    std::int64_t nRemoved = 0;
    {
        CStatement attempts(
            m_pDb,
            (std::string("DELETE FROM attempts WHERE page_seq IN (") + szDone + ")")
                .c_str());
        attempts.Bind(1, nBeforeMs).Bind(2, StateCode(DeliveryState::kPending)).Step();
        CStatement deliveries(
            m_pDb,
            (std::string("DELETE FROM deliveries WHERE page_seq IN (") + szDone + ")")
                .c_str());
        deliveries.Bind(1, nBeforeMs)
            .Bind(2, StateCode(DeliveryState::kPending))
            .Step();
        CStatement pages(m_pDb,
                         "DELETE FROM pages WHERE accepted_ms < ? AND NOT EXISTS "
                         "(SELECT 1 FROM deliveries WHERE page_seq = seq)");
        pages.Bind(1, nBeforeMs).Step();
        nRemoved = sqlite3_changes(m_pDb);
    }
    if (!Exec("COMMIT")) {
        Exec("ROLLBACK");
        return 0;
    }
    return nRemoved;
}
