#include "session/PageSession.h"

#include "serial/DeviceList.h"
#include "serial/MessageBoxes.h"
#include "session/Clock.h"
#include "session/SessionLog.h"
#include "session/StatusServer.h"
#include "session/ViewText.h"

#include <sys/stat.h>

#include <utility>

namespace {

const char* LevelText(bool bOn) {
    return bOn ? "ON" : "OFF";
}

} // namespace

CPageSession::CPageSession(ISessionDisplay& display, IMessageBoxes& boxes,
                           CSyncCall::Poster poster, CLineRecovery::Probe probe,
                           std::unique_ptr<ISerialDevice> pDevice, const IClock* pClock)
    : m_display(display), m_pClock(pClock), m_boxes(boxes),
      m_line(*this, std::move(pDevice)), m_terminal(m_line.Engine()),
      m_port(m_line.Port()), m_recovery(std::move(probe)),
      m_delivery({[this](const std::string& strNote) { AddNote(strNote); },
                  [this](const CDeliveryEvent& event) {
                      CountDelivery(event);
                      Tell([&](ISessionDisplay& d) { d.ShowDelivery(event); });
                  }}) {
    m_port.SetUiPoster(std::move(poster));
    m_line.SetMessageBoxes(&boxes);
    // COMn is the device the profile names for it, read when the port opens.
    m_port.SetDeviceResolver(
        [](int nPort) { return CPortConfig().GetDevicePath(nPort); });
    // A device that does not open is told with the setting that chose it.
    m_port.SetOpenErrorExplainer([this](int nPort, const std::string& strPath,
                                        const std::string& strReason) {
        return m_config.ExplainOpenError(nPort, strPath, strReason, CDeviceScanner());
    });
}

CPageSession::~CPageSession() {
    // Deliveries still pending run while the session is whole.
    m_port.StopMonitor();
}

template <typename F> void CPageSession::Tell(F show) {
    show(m_display);
    if (m_pLog)
        show(*m_pLog);
}

long CPageSession::Notify(unsigned nMsg, WPARAM wParam, LPARAM lParam) {
    switch (nMsg) {
    case UM_COMM_CTS: OnLevel(LineLevel::kCts, wParam != 0); break;
    case UM_COMM_DSR: OnLevel(LineLevel::kDsr, wParam != 0); break;
    case UM_COMM_DCD: OnLevel(LineLevel::kDcd, wParam != 0); break;
    case UM_COMM_RXCHAR: OnByte(static_cast<unsigned char>(wParam & 0xFF)); break;
    case UM_SESSION_STATE: OnState(static_cast<int>(lParam)); break;
    case UM_PROTOCOL_TRACE: OnProtocolTrace(wParam, lParam); break;
    case UM_LINE_NOTE: OnLineNote(*reinterpret_cast<const std::string*>(lParam)); break;
    default: break; // break, error, ring, event character: no handler
    }
    return 0;
}

void CPageSession::OnLineNote(const std::string& strNote) {
    AddNote(strNote);
}

std::string CPageSession::ApplyTestBench() {
    ApplyLogFolder();
    const std::string strDeliveryBox = m_delivery.Apply(m_config, AppProfile());
    m_bDiagnose = m_config.GetDiagnose() != 0;
    m_terminal.SetExplain(m_bDiagnose);
    m_terminal.SetLogonPassword(m_config.GetPassword());
    m_terminal.SetMessageSequences(m_config.HasMessageSequences());
    m_lineHints.NewSession();
    m_pTestMode.reset();
    CTestModeSettings settings;
    std::string strError;
    std::string strBox;
    if (!ParseTestMode(m_config.GetMisbehave(), &settings, &strError))
        strBox = "The test setting " +
                 CPortConfig::PortKey("Misbehave", m_config.m_nPort) + "=" +
                 ShownValue(m_config.GetMisbehave()) + " is not used:\n" + strError;
    else if (settings.IsOn())
        m_pTestMode = std::make_unique<CTestMode>(settings);
    // Without a test mode, a delivery or records kept before the ACK the
    // engine needs no hook.
    m_terminal.SetAnswerHook(NeedsHook() ? this : nullptr);
    std::string strCharsetBox;
    m_charset = Charset::kAscii;
    if (!ParseCharset(m_config.GetCharset(), &m_charset))
        strCharsetBox =
            "The setting " + CPortConfig::PortKey("Charset", m_config.m_nPort) + "=" +
            ShownValue(m_config.GetCharset()) +
            " is not used: it takes ascii, latin1, cp1252 or utf-8. Messages "
            "are shown as ascii.";
    for (const std::string& strMore :
         {strCharsetBox, strDeliveryBox, ApplyWatchSettings()}) {
        if (!strMore.empty())
            strBox += (strBox.empty() ? "" : "\n\n") + strMore;
    }
    return strBox;
}

bool CPageSession::NeedsHook() const {
    return m_pTestMode || m_delivery.IsOn() || m_display.KeepsRecordsFirst();
}

CAnswerChange CPageSession::OnAnswer(AnswerKind kind, const CPageFacts& facts) {
    m_bRecordKept = false;
    if (kind == AnswerKind::kPageAccepted && !m_display.TakesPages()) {
        CAnswerChange silent;
        silent.kind = CAnswerChange::Kind::kSilent;
        silent.notes.push_back("   NOT ANSWERED: THE RUN IS ENDING");
        return silent;
    }
    const CAnswerChange change =
        m_pTestMode ? m_pTestMode->OnAnswer(kind, facts) : CAnswerChange();
    if (kind != AnswerKind::kPageAccepted || !facts.bLastBlock)
        return change;
    CPageRecord proto;
    proto.nTimeMs = Clock().NowMs();
    proto.nPort = m_port.GetPortNumber();
    proto.strDevice = m_port.GetDevicePath();
    proto.charset = m_charset;
    CPageRecord record;
    CAnswerChange answer = m_delivery.OnLastBlock(
        change, facts, proto, m_config.HasMessageSequences(), &record);
    // A page kept in the outbox is safe there; one that is not must be in
    // the display's record before it is acknowledged.
    using Kind = CAnswerChange::Kind;
    const bool bAcknowledged = answer.kind == Kind::kAsIs ||
                               answer.kind == Kind::kDefer ||
                               answer.kind == Kind::kTruncate;
    if (!bAcknowledged || !m_display.KeepsRecordsFirst() || !record.strId.empty())
        return answer;
    if (record.lines.empty()) // no target took it: its record is made here
        record = CSessionDelivery::ProvisionalRecord(answer, facts, proto);
    std::string strWhy;
    if (m_display.KeepRecord(record, &strWhy)) {
        m_bRecordKept = true;
        if (m_pLog)
            m_pLog->WritePageNow(record);
        return answer;
    }
    answer.kind = Kind::kRefuse;
    answer.refusal = CAnswerChange::Refusal::kBusy;
    answer.nCutTo = 0;
    answer.notes.push_back("   PAGE REFUSED: ITS RECORD CANNOT BE WRITTEN: " + strWhy);
    return answer;
}

void CPageSession::ShowSettingsBox(const std::string& strText) {
    // The timer goes on while a box waits: one box at a time.
    if (strText.empty() || m_bBoxUp)
        return;
    m_bBoxUp = true;
    AppMessageBox(m_boxes, strText, MB_OK);
    m_bBoxUp = false;
}

void CPageSession::ShowTestBenchBox(const std::string& strText) {
    // After the set-up: the line is served while the box waits for OK.
    ShowSettingsBox(strText);
}

void CPageSession::ApplyLogFolder() {
    const std::string strFolder = m_config.GetLogFolder();
    if (m_pLog && m_pLog->GetFolder() == strFolder)
        return;
    m_pLog.reset();
    if (!strFolder.empty())
        m_pLog = std::make_unique<CSessionLog>(strFolder);
    if (m_pLog) {
        m_pLog->SetPagesWrittenThrough(m_display.KeepsRecordsFirst());
        const std::string strKeep =
            AppProfile().GetString("Configuration", "LogKeepDays", "");
        const bool bNumber =
            !strKeep.empty() && strKeep.size() <= 5 &&
            strKeep.find_first_not_of("0123456789") == std::string::npos;
        m_pLog->SetKeepDays(bNumber ? std::stoi(strKeep)
                                    : CSessionLog::kDefaultKeepDays);
    }
}

std::string CPageSession::GetTestModeText() const {
    return m_pTestMode ? m_pTestMode->GetSettings().Text() : std::string();
}

CLineSettings CPageSession::LineSettings() const {
    CLineSettings line;
    line.nPort = m_config.m_nPort;
    line.format.nBaud = m_config.m_nBaudRate;
    line.format.chParity = m_config.m_chParity;
    line.format.nDataBits = m_config.m_nDataBits;
    line.format.nStopBits = m_config.m_nStopBits;
    line.flow.nRts = m_config.GetRTS();
    line.flow.nDtr = m_config.GetDTR();
    line.flow.nCts = m_config.GetCTS();
    line.flow.nDsr = m_config.GetDSR();
    line.nEventMask = kEventMask;
    line.nOutBufferSize = kOutBufferSize;
    return line;
}

bool CPageSession::OpenPort() {
    const std::string strBox = ApplyTestBench();
    const bool bOpen = m_line.Connect(this, LineSettings());
    m_bReady = m_bReady || bOpen;
    ShowTestBenchBox(strBox);
    return bOpen;
}

bool CPageSession::Logon() {
    const std::string strBox = ApplyTestBench();
    const bool bOpen = m_line.Logon(this, LineSettings());
    ShowTestBenchBox(strBox);
    if (!bOpen)
        return false;
    if (m_recovery.IsWaiting())
        Tell([&](ISessionDisplay& d) {
            d.ShowEvent("DEVICE BACK: " + m_port.GetDevicePath());
        });
    m_recovery.Recovered();
    m_strState = ::GetStateText(m_terminal.GetState());
    m_display.ShowSession();
    return true;
}

void CPageSession::Logoff() {
    m_recovery.Cancel(); // a lost line stays off until Logon
    m_nGoodPages = 0;
    m_nBadPages = 0;
    m_terminal.Logoff();
    m_strState = ::GetStateText(m_terminal.GetState());
    m_display.ShowSession();
}

void CPageSession::Tick() {
    // Confirmations first: a page confirmed in the last tick is not then
    // refused for the wait that ends in this one.
    const std::string strDeliveryBox =
        m_delivery.Tick(m_terminal, m_config, AppProfile());
    m_terminal.Tick();
    // Targets may come or go with the profile.
    m_terminal.SetAnswerHook(NeedsHook() ? this : nullptr);
    TellLogProblems();
    // A line that hung up or lost its device comes back by itself once the
    // device opens again: the same as pressing Logon.
    const bool bWasWaiting = m_recovery.IsWaiting();
    const bool bBack = m_recovery.Tick(m_port.IsDeviceLost(), m_port.GetDevicePath());
    if (!bWasWaiting && m_recovery.IsWaiting())
        Tell([&](ISessionDisplay& d) {
            d.ShowEvent("DEVICE LOST: " + m_recovery.GetLostPath());
        });
    if (bBack)
        Logon();
    WatchAlerts();
    if (m_pStatus)
        m_pStatus->Publish(MakeStatusSnapshot());
    ShowSettingsBox(strDeliveryBox);
}

void CPageSession::SettingsChanged() {
    m_config.Load();
    m_recovery.Cancel();
    m_terminal.Logoff();
}

void CPageSession::TellLogProblems() {
    if (m_pLog) {
        for (const std::string& strReport : m_pLog->TakeReports())
            Tell([&](ISessionDisplay& d) { d.ShowLogProblem(strReport); });
    }
}

void CPageSession::FinishLog() {
    if (!m_pLog)
        return;
    m_pLog->Finish();
    TellLogProblems();
    m_pLog.reset();
}

void CPageSession::Close() {
    if (m_bClosed)
        return;
    m_bClosed = true;
    m_terminal.Logoff();
}

void CPageSession::OnLevel(LineLevel line, bool bOn) {
    const char* szName = line == LineLevel::kCts   ? "CTS"
                         : line == LineLevel::kDsr ? "DSR"
                                                   : "DCD";
    std::string& strLevel = line == LineLevel::kCts   ? m_strCTS
                            : line == LineLevel::kDsr ? m_strDSR
                                                      : m_strDCD;
    if (strLevel != LevelText(bOn))
        Tell([&](ISessionDisplay& d) {
            d.ShowEvent(std::string(szName) + " " + LevelText(bOn));
        });
    strLevel = LevelText(bOn);
    if (line != LineLevel::kCts)
        m_line.CheckLineSignals(); // the engine sees DSR and DCD
    m_display.ShowSession();
}

void CPageSession::OnState(int nState) {
    if (nState == ST_WAITING_FOR_CR) {
        m_lineHints.NewSession();
        m_lastNak = CNakedBlock(); // a resend comes in the same call
    }
    const std::string strState = ::GetStateText(nState);
    // A logon is done when the terminal waits for pages, coming from
    // anything but a page.
    if (nState == ST_WAITING_FOR_PAGE && strState != m_strState &&
        m_strState != ::GetStateText(ST_RECEIVING_PAGE)) {
        ++m_counters.nSessions;
        m_counters.nLastCallMs = Clock().NowMs();
    }
    if (strState != m_strState)
        Tell([&](ISessionDisplay& d) { d.ShowEvent(strState); });
    m_strState = strState;
    m_display.ShowSession();
}

CPageRecord CPageSession::MakeRecord(const CPageResult& page) const {
    CPageRecord record;
    record.nTimeMs = Clock().NowMs();
    record.nPort = m_port.GetPortNumber();
    record.strDevice = m_port.GetDevicePath();
    record.verdict = page.verdict;
    record.charset = m_charset;
    // A bad page says why; a page accepted cut short by a test mode says so.
    record.strResult = page.strResult;
    record.nBlocks = page.nBlocks;
    record.strAnswer = AnswerName(page.strAnswer);
    FillPageFields(&record, page.strText, page.strBlock, page.bAccepted);
    return record;
}

void CPageSession::OnPage(const CPageResult& page) {
    CPageRecord record = MakeRecord(page);
    MarkResend(&record, page.strBlock);
    // While a page's answer waits, the next result is that page's.
    m_delivery.OnPageResult(
        &record, m_delivery.IsAwaiting() && !m_terminal.IsAwaiting(), page.bWithheld);
    if (!page.bAccepted && m_bDiagnose)
        DiagnoseRejectedBlock(page);
    if (page.bAccepted)
        ++m_nGoodPages;
    else
        ++m_nBadPages;
    ++m_counters.pages[VerdictName(record.verdict)];
    m_counters.nLastPageMs = record.nTimeMs;
    m_counters.nLastCallMs = std::max(m_counters.nLastCallMs, record.nTimeMs);
    m_pageRecords.Add(record);
    record.bKept = m_bRecordKept; // written already, before the ACK
    m_bRecordKept = false;
    Tell([&](ISessionDisplay& d) { d.ShowPage(record); });
    m_display.ShowSession();
}

std::string CPageSession::ShownLevel(const std::string& strLevel) const {
    const bool bNoLines =
        m_port.IsOpen() && !m_port.IsDeviceLost() && m_port.HasNoModemLines();
    return bNoLines ? "n/a" : strLevel;
}

std::string CPageSession::GetLineNote() const {
    if (!m_port.IsOpen() || m_port.IsDeviceLost())
        return std::string();
    std::string strNote;
    if (m_port.HasNoModemLines())
        strNote = "no modem lines";
    if (m_terminal.GetState() == ST_DISCONNECTED)
        strNote += (strNote.empty() ? "" : "; ") + std::string("waiting for a caller");
    return strNote.empty() ? strNote : " (" + strNote + ")";
}

void CPageSession::MarkResend(CPageRecord* pRecord, const std::string& strBlock) {
    const CPageRecord& record = *pRecord;
    if (m_lastNak.bSet && m_lastNak.strPager == record.strPager &&
        m_lastNak.strMessage == record.strMessage) {
        // The block the caller sent again after its NAK: tied to that NAK
        // in the protocol window and under the page's list line.
        const std::string strNote = ResendNote(
            DecodeText(m_lastNak.strPager, m_charset), m_lastNak.strChecksum);
        AddNote("   " + strNote);
        pRecord->lines.push_back("\t" + strNote);
    }
    m_lastNak = CNakedBlock();
    if (record.strAnswer == "NAK")
        m_lastNak = {true, record.strPager, record.strMessage,
                     BlockChecksumText(strBlock)};
}

std::string CPageSession::TracedLogonByte(unsigned char ch) {
    // A password between ESC "PG1" and the CR of a logon shows as "***",
    // whatever its length, in every trace; the engine still gets it whole.
    if (m_nPasswordChars >= 0) {
        if (ch != kCr && ch != kEsc && ch != kStx)
            return m_nPasswordChars++ == 0 ? "***" : std::string();
        m_nPasswordChars = -1;
    }
    m_strLogonTail =
        (m_strLogonTail + static_cast<char>(ch))
            .substr(m_strLogonTail.size() + 1 > 4 ? m_strLogonTail.size() + 1 - 4 : 0);
    if (m_strLogonTail == kLogonStart)
        m_nPasswordChars = 0;
    return std::string(1, static_cast<char>(ch));
}

void CPageSession::OnByte(unsigned char ch) {
    m_lastRx = std::chrono::steady_clock::now();
    m_bRxSinceAnswer = true;
    if (ch == static_cast<unsigned char>(kStx))
        ++m_counters.nBlocks;
    // The character is traced before the engine can answer it.
    const std::string strTraced = TracedLogonByte(ch);
    if (!strTraced.empty())
        ShowTraced(false, strTraced);
    const std::string strHint = m_bDiagnose ? m_lineHints.OnByte(ch) : std::string();
    m_terminal.HandleChar(ch);
    // After the CR's own handling: the note follows the line it ends.
    if (!strHint.empty())
        AddNote(strHint);
}

void CPageSession::OnProtocolTrace(WPARAM wParam, LPARAM lParam) {
    const std::unique_ptr<std::string> text = AdoptTraceText(lParam);
    if (text)
        ShowTraced(wParam != kTraceReceived, *text);
}

void CPageSession::ShowTraced(bool bSent, const std::string& strText) {
    if (bSent)
        CountAnswer(strText);
    Tell([&](ISessionDisplay& d) { d.ShowTrace(bSent, strText); });
}

void CPageSession::OnTrace(const std::string& strSent) {
    ShowTraced(true, strSent);
}

void CPageSession::OnNote(const std::string& strNote) {
    AddNote(strNote);
}

void CPageSession::OnFault(const std::string& strText) {
    AppMessageBox(m_boxes, strText, MB_OK);
}

void CPageSession::AddNote(const std::string& strNote) {
    Tell([&](ISessionDisplay& d) { d.ShowNote(strNote); });
}

void CPageSession::DiagnoseRejectedBlock(const CPageResult& page) {
    BlockVerdict block;
    switch (page.verdict) {
    case PageVerdict::kBadChecksum: block = BlockVerdict::kBadChecksum; break;
    case PageVerdict::kBadFormat: block = BlockVerdict::kBadFormat; break;
    case PageVerdict::kTimedOut: block = BlockVerdict::kTimedOut; break;
    case PageVerdict::kIncomplete:
        AddNote("   MESSAGE UNFINISHED AFTER " + std::to_string(page.nBlocks) +
                (page.nBlocks == 1 ? " BLOCK" : " BLOCKS"));
        // Its last block timed out: say why.
        if (!page.bTimedOutBlock)
            return;
        block = BlockVerdict::kTimedOut;
        break;
    default:
        return; // refused on purpose by a test mode or for its length: a note says so
    }
    for (const std::string& strLine : DiagnoseBlock(
             page.strBlock, block, CPageTerminal::kTimeoutTicks + 1, page.nDropped))
        AddNote(strLine);
}

std::string CPageSession::ApplyWatchSettings() {
    const IProfile& profile = AppProfile();
    std::string strBox;
    const auto problem = [&strBox](const std::string& strKey,
                                   const std::string& strValue,
                                   const std::string& strWhy) {
        strBox += (strBox.empty() ? "" : "\n") + std::string("The setting ") + strKey +
                  "=" + ShownValue(strValue) + " is not used: " + strWhy;
    };
    const std::string strSilenceKey =
        CPortConfig::PortKey("SilenceAlert", m_config.m_nPort);
    const std::string strSilence =
        profile.GetString("Configuration", strSilenceKey, "");
    std::int64_t nMs = 0;
    if (!ParseAlertMinutes(strSilence, &nMs)) {
        problem(strSilenceKey, strSilence, "minutes, such as 5 or 0.5");
        nMs = 0;
    }
    m_alerts.SetSilenceMs(nMs);
    const std::string strTarget = profile.GetString("Configuration", "TargetAlert", "");
    nMs = CAlertWatch::kDefaultTargetMs;
    if (strTarget.find_first_not_of(" \t") != std::string::npos &&
        !ParseAlertMinutes(strTarget, &nMs)) {
        problem("TargetAlert", strTarget, "minutes, such as 10 or 0.5");
        nMs = CAlertWatch::kDefaultTargetMs;
    }
    m_alerts.SetTargetMs(nMs);

    const std::string strListen =
        profile.GetString("Configuration", "StatusListen", "");
    if (strListen == m_strStatusListen)
        return strBox;
    m_pStatus.reset();
    m_strStatusListen = strListen;
    if (strListen.find_first_not_of(" \t") == std::string::npos)
        return strBox;
    std::string strHost;
    int nPort = 0;
    std::string strWhy;
    if (!ParseListenAddress(strListen, &strHost, &nPort, &strWhy)) {
        problem("StatusListen", strListen, strWhy);
        return strBox;
    }
    auto pServer = std::make_unique<CStatusServer>();
    if (!pServer->Start(strHost, nPort, &strWhy)) {
        problem("StatusListen", strListen, strWhy);
        return strBox;
    }
    pServer->Publish(MakeStatusSnapshot());
    m_pStatus = std::move(pServer);
    return strBox;
}

void CPageSession::WatchAlerts() {
    CWatchFacts facts;
    facts.nPort = m_port.GetPortNumber();
    facts.bDeviceLost = m_recovery.IsWaiting();
    facts.strDevice =
        facts.bDeviceLost ? m_recovery.GetLostPath() : m_port.GetDevicePath();
    facts.bLineOpen = m_port.IsOpen() && !m_port.IsDeviceLost();
    facts.nLastCallMs = m_counters.nLastCallMs;
    if (const CDelivery* pDelivery = m_delivery.GetDelivery()) {
        for (const CTargetStatus& status : pDelivery->Status()) {
            CWatchFacts::CTarget target;
            target.strName = status.strName;
            target.nPending = status.counts.nPending;
            target.nOldestPendingMs = status.counts.nOldestPendingMs;
            target.nExpired = status.counts.nExpired;
            const auto it = m_counters.lastDelivered.find(status.strName);
            target.nLastDeliveredMs =
                it == m_counters.lastDelivered.end() ? 0 : it->second;
            facts.targets.push_back(target);
        }
    }
    for (const CAlertEvent& event : m_alerts.Look(Clock().NowMs(), facts)) {
        Tell([&](ISessionDisplay& d) { d.ShowAlert(event); });
        std::string strError;
        if (!m_delivery.SendAlert(event, &strError))
            AddNote("   ALERT NOT KEPT FOR DELIVERY: " + strError);
    }
}

void CPageSession::CountAnswer(const std::string& strSent) {
    const bool bNak = strSent.find(kNak) != std::string::npos;
    if (bNak)
        ++m_counters.nNaks;
    if (!m_bRxSinceAnswer)
        return;
    if (!bNak && strSent.find(kAck) == std::string::npos &&
        strSent.find(kRs) == std::string::npos)
        return;
    m_bRxSinceAnswer = false;
    m_counters.latency.Add(
        std::chrono::duration<double>(std::chrono::steady_clock::now() - m_lastRx)
            .count());
}

void CPageSession::CountDelivery(const CDeliveryEvent& event) {
    if (event.kind == CDeliveryEvent::Kind::kProblem || event.strTarget.empty())
        return;
    if (event.kind != CDeliveryEvent::Kind::kExpired)
        ++m_counters.attempts[event.strTarget];
    if (event.kind == CDeliveryEvent::Kind::kDelivered)
        m_counters.lastDelivered[event.strTarget] = event.nTimeMs;
}

CStatusSnapshot CPageSession::MakeStatusSnapshot() const {
    CStatusSnapshot snapshot;
    snapshot.nNowMs = Clock().NowMs();
    snapshot.bReady = m_bReady;
    CPortStatus port;
    port.nPort = m_port.GetPortNumber();
    port.strDevice = m_port.GetDevicePath();
    port.strState = m_strState;
    port.bDevicePresent = m_port.IsOpen() && !m_port.IsDeviceLost();
    port.bLineOpen = port.bDevicePresent;
    port.nSessions = m_counters.nSessions;
    port.pages = m_counters.pages;
    port.nBlocks = m_counters.nBlocks;
    port.nNaks = m_counters.nNaks;
    port.latency = m_counters.latency;
    port.nLastPageMs = m_counters.nLastPageMs;
    snapshot.ports.push_back(port);
    if (const CDelivery* pDelivery = m_delivery.GetDelivery()) {
        snapshot.bOutbox = true;
        for (const CTargetStatus& status : pDelivery->Status()) {
            CTargetMetrics target;
            target.strName = status.strName;
            target.strKind = status.strKind;
            target.nDelivered = static_cast<std::uint64_t>(status.counts.nDelivered);
            target.nFailed = static_cast<std::uint64_t>(status.counts.nFailed);
            target.nExpired = static_cast<std::uint64_t>(status.counts.nExpired);
            target.nPending = static_cast<std::uint64_t>(status.counts.nPending);
            target.nOldestPendingMs = status.counts.nOldestPendingMs;
            const auto it = m_counters.attempts.find(status.strName);
            target.nAttempts = it == m_counters.attempts.end() ? 0 : it->second;
            snapshot.targets.push_back(target);
        }
        struct stat info {};
        if (stat(m_delivery.GetOutboxPath().c_str(), &info) == 0)
            snapshot.nOutboxBytes = static_cast<std::int64_t>(info.st_size);
    }
    snapshot.alerts = m_alerts.Active();
    return snapshot;
}
