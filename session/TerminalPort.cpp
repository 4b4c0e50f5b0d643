#include "session/TerminalPort.h"

#include "serial/MessageBoxes.h"

#include <cstdio>

namespace {

constexpr const char* kOpenFailed =
    "Unable to Open CommPort. Please check Comm. Settings";

static_assert(kPurgeOutput == PURGE_TXCLEAR && kPurgeInput == PURGE_RXCLEAR,
              "the engine's purge flags are the port's");

} // namespace

CTerminalPort::CTerminalPort(ITerminalEvents& events,
                             std::unique_ptr<ISerialDevice> pDevice)
    : m_events(events),
      m_pPort(pDevice ? std::make_unique<CCommPort>(std::move(pDevice))
                      : std::make_unique<CCommPort>()) {}

CTerminalPort::~CTerminalPort() {
    // Deliveries still pending call into the engine: finish them while it
    // is whole.
    m_pPort->StopMonitor();
}

void CTerminalPort::SetMessageBoxes(IMessageBoxes* pBoxes) {
    m_pBoxes = pBoxes;
    m_pPort->SetMessageBoxes(pBoxes);
}

bool CTerminalPort::Connect(IPortEvents* pOwner, const CLineSettings& line) {
    CCommPort& port = *m_pPort;
    port.HoldSetupReports(); // until the line has been started
    if (!port.Setup(pOwner, line)) {
        m_engine.LineSetUp(false);
        // The second line says which device and why (a missing adapter, a
        // user not in the dialout group).
        port.ReleaseSetupReports();
        const std::string strText =
            std::string(kOpenFailed) + "\n" + port.GetOpenError();
        if (m_pBoxes != nullptr)
            AppMessageBox(*m_pBoxes, strText, MB_OK);
        else
            std::fprintf(stderr, "%s\n", strText.c_str());
        return false;
    }
    port.StartMonitor();
    m_engine.LineSetUp(true);
    port.ReleaseSetupReports();
    return true;
}

bool CTerminalPort::Logon(IPortEvents* pOwner, const CLineSettings& line) {
    if (!Connect(pOwner, line)) {
        m_engine.LoggedOn(false, false, false);
        return false;
    }
    const bool bDsr = m_pPort->QueryDsr(true) != 0;
    const bool bDcd = bDsr && m_pPort->QueryDcd(true) != 0;
    m_engine.LoggedOn(true, bDsr, bDcd);
    return true;
}

void CTerminalPort::CheckLineSignals() {
    m_engine.OnLevels(m_pPort->QueryDsr(false) != 0, m_pPort->QueryDcd(false) != 0);
}

void CTerminalPort::Purge(unsigned nFlags) {
    m_pPort->Purge(nFlags);
}

void CTerminalPort::Write(const std::string& strBytes) {
    m_pPort->QueueWrite(strBytes);
}

void CTerminalPort::HangUp() {
    m_pPort->RequestHangUp();
}

bool CTerminalPort::IsNetworkLine() const {
    return m_pPort->IsNetworkLine();
}

bool CTerminalPort::HasNoModemLines() const {
    return m_pPort->HasNoModemLines();
}

int CTerminalPort::GetPortNumber() const {
    return m_pPort->GetPortNumber();
}

std::string CTerminalPort::DescribeLine() const {
    return m_pPort->DescribeLine();
}

void CTerminalPort::OnState(int nState) {
    m_events.OnState(nState);
}

void CTerminalPort::OnPage(const CPageResult& page) {
    m_events.OnPage(page);
}

void CTerminalPort::OnTrace(const std::string& strSent) {
    m_events.OnTrace(strSent);
}

void CTerminalPort::OnNote(const std::string& strNote) {
    m_events.OnNote(strNote);
}

void CTerminalPort::OnFault(const std::string& strText) {
    m_events.OnFault(strText);
}
