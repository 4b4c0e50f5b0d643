#include "ui/ProtocolDlg.h"

#include "serial/MessageBoxes.h"
#include "session/Charset.h"
#include "session/Clock.h"
#include "session/TraceLines.h"
#include "settings/PortConfig.h"
#include "settings/Profile.h"
#include "ui/FormLayout.h"
#include "ui/ListText.h"
#include "ui/ReportListBox.h"
#include "ui/WxMessageBoxes.h"
#include "ui/WxText.h"

#include <wx/app.h>
#include <wx/button.h>
#include <wx/stattext.h>

namespace {

// The window's own layout, in dialog units: the list, the title and the
// Save button as they are built.
const wxSize kLayoutSize(302, 129);

} // namespace

CProtocolDlg::CProtocolDlg(wxWindow* pView, std::function<void()> onClose)
    // A popup without caption or system menu, owned by the main frame.
    : wxDialog(wxGetTopLevelParent(pView), wxID_ANY, "Protocol Messages",
               wxDefaultPosition, wxDefaultSize, wxBORDER_RAISED),
      m_pView(pView), m_onClose(std::move(onClose)) {
    m_bHex = AppProfile().GetInt(CPortConfig::kSection, kHexKey, 0) != 0;
    m_bTimes = AppProfile().GetInt(CPortConfig::kSection, kTimesKey, 0) != 0;
    auto at = [this](int x, int y) { return ConvertDialogToPixels(wxPoint(x, y)); };
    auto size = [this](int w, int h) { return ConvertDialogToPixels(wxSize(w, h)); };
    m_protocolList =
        new CReportListBox(this, IDC_PROTOCOL_LIST, at(7, 22), size(245, 100),
                           wxLB_SINGLE | wxLB_ALWAYS_SB | wxLB_HSCROLL);
    m_pTitle = new wxStaticText(
        this, wxID_ANY, "Protocol Messages", at(7, 7), size(246, 12),
        wxALIGN_CENTRE_HORIZONTAL | wxST_NO_AUTORESIZE | wxBORDER_SUNKEN);
    m_pSave = new wxButton(this, IDC_SAVE, "&Save", at(259, 95), size(36, 21));
    m_listBase = m_protocolList->GetRect();
    m_titleBase = m_pTitle->GetRect();
    m_saveBase = m_pSave->GetRect();
    m_baseClient = ConvertDialogToPixels(kLayoutSize);
    // GTK keeps the first size a window is given when it is shown: start at
    // the frame's width already.
    wxSize client = m_baseClient;
    if (wxWindow* pFrame = wxTheApp->GetTopWindow();
        pFrame != nullptr && pFrame != this)
        client.x = pFrame->GetSize().x;
    SetClientSize(client);
    Bind(
        wxEVT_LISTBOX_DCLICK, [this](wxCommandEvent&) { OnDblclkProtocolList(); },
        IDC_PROTOCOL_LIST);
    Bind(
        wxEVT_BUTTON, [this](wxCommandEvent&) { OnSave(); }, IDC_SAVE);
    m_protocolList->SetSaveTitle("Save Protocol Messages");
    // Closed by the window manager: switched off, as by the View menu, so
    // that the menu's check mark and the profile say what the screen shows.
    Bind(wxEVT_CLOSE_WINDOW, [this](wxCloseEvent& event) {
        if (m_onClose)
            m_onClose();
        else
            event.Skip();
    });

    PositionBelowFrame();
    Bind(wxEVT_SIZE, [this](wxSizeEvent& event) {
        PlaceControls();
        event.Skip();
    });
}

void CProtocolDlg::SetBaseWidth(int nFrameWidth) {
    const int nBorder = GetSize().x - GetClientSize().x;
    m_baseClient.x =
        std::max(ConvertDialogToPixels(kLayoutSize).x, nFrameWidth - nBorder);
    PlaceControls();
}

void CProtocolDlg::PlaceControls() {
    const wxSize extra =
        GrowthFor(GetClientSize(), m_baseClient, ConvertDialogToPixels(kLayoutSize));
    m_protocolList->PlaceIn(
        wxRect(m_listBase.GetPosition(), m_listBase.GetSize() + extra));
    m_pTitle->SetSize(
        wxRect(m_titleBase.GetPosition(), m_titleBase.GetSize() + wxSize(extra.x, 0)));
    m_pSave->Move(m_saveBase.GetPosition() + wxPoint(extra.x, extra.y));
}

void CProtocolDlg::PositionBelowFrame() {
    wxWindow* pFrame = wxTheApp->GetTopWindow();
    if (pFrame == nullptr || pFrame == this)
        return;
    const wxRect frame = pFrame->GetScreenRect();
    // The frame may be narrower than the window's own layout: it still
    // takes the frame's width, and its controls are cut at the right. The
    // width goes through the client size: GTK sizes a window that the user
    // cannot resize by what its client area asks for.
    SetMinClientSize(wxSize(1, 1));
    const wxSize border = GetSize() - GetClientSize();
    SetClientSize(std::max(1, frame.GetWidth() - border.x), GetClientSize().y);
    // Below a maximised frame there is no screen left: the window covers
    // the frame's bottom edge instead of leaving the screen.
    int nTop = frame.GetBottom() + 1;
    if (auto* pTop = dynamic_cast<wxTopLevelWindow*>(pFrame);
        pTop && pTop->IsMaximized()) {
        nTop = std::min(nTop, ScreenAreaOf(pFrame).GetBottom() + 1 - GetSize().y);
    }
    Move(frame.GetLeft(), nTop);
}

void CProtocolDlg::OnDblclkProtocolList() {
    if (AppMessageBox(CWxMessageBoxes::Instance(), "Clear All messages?",
                      MB_YESNO | MB_DEFBUTTON2) == IDYES) {
        m_lines.clear();
        m_hex.clear();
        m_times.clear();
        m_nDroppedRows = 0;
        m_nValidRows = 0;
        m_protocolList->Clear();
    }
}

void CProtocolDlg::OnSave() {
    GetList().SaveReport();
}

CReportListBox& CProtocolDlg::GetList() {
    if (m_catchUp)
        m_catchUp();
    Sync();
    return *m_protocolList;
}

unsigned CProtocolDlg::Count() const {
    return static_cast<unsigned>(m_lines.size());
}

std::string CProtocolDlg::Line(unsigned nIndex) const {
    return m_lines.at(nIndex);
}

void CProtocolDlg::DropOldest() {
    m_lines.pop_front();
    m_hex.pop_front();
    m_times.pop_front();
    // A row the list box shows for it goes at the next update; a row not
    // yet matching is replaced then anyway.
    if (m_nValidRows > 0) {
        --m_nValidRows;
        ++m_nDroppedRows;
    }
    MarkChanged(m_nValidRows);
}

void CProtocolDlg::Add(const std::string& strLine) {
    m_lines.push_back(strLine);
    m_hex.emplace_back();
    m_times.push_back(
        TraceTimeText(m_nLineTimeMs != 0 ? m_nLineTimeMs : GetClock().NowMs()) + " ");
    MarkChanged(static_cast<unsigned>(m_lines.size() - 1));
}

void CProtocolDlg::ReplaceLast(const std::string& strLine) {
    m_lines.back() = strLine;
    MarkChanged(static_cast<unsigned>(m_lines.size() - 1));
}

void CProtocolDlg::NoteBytes(const std::string& strBytes) {
    if (m_hex.empty() || strBytes.empty())
        return;
    std::string& strHex = m_hex.back();
    if (!strHex.empty())
        strHex += ' ';
    strHex += HexBytes(strBytes);
    if (m_bHex)
        MarkChanged(static_cast<unsigned>(m_lines.size() - 1));
}

void CProtocolDlg::SetHexView(bool bHex) {
    if (bHex == m_bHex)
        return;
    m_bHex = bHex;
    MarkChanged(0); // every row shows otherwise now
}

void CProtocolDlg::SetTimesView(bool bTimes) {
    if (bTimes == m_bTimes)
        return;
    m_bTimes = bTimes;
    MarkChanged(0);
}

void CProtocolDlg::MarkChanged(unsigned nFrom) {
    if (nFrom < m_nValidRows)
        m_nValidRows = nFrom;
    m_pace.Request();
}

void CProtocolDlg::Sync() {
    const unsigned nRows = m_protocolList->GetCount();
    if (m_nDroppedRows == 0 && m_nValidRows == nRows && nRows == m_lines.size())
        return;
    m_protocolList->Freeze();
    m_protocolList->DropOldest(m_nDroppedRows);
    m_nDroppedRows = 0;
    m_protocolList->KeepFirst(m_nValidRows);
    wxArrayString rows;
    for (size_t i = m_nValidRows; i < m_lines.size(); ++i)
        rows.Add(FromBytes((m_bTimes ? m_times[i] : std::string()) +
                           (m_bHex ? WithHexBytes(m_lines[i], m_hex[i]) : m_lines[i])));
    if (!rows.empty())
        m_protocolList->AppendLines(rows);
    m_nValidRows = static_cast<unsigned>(m_lines.size());
    // The newest line comes into view where the reader follows the end.
    m_protocolList->ShowChanges();
    m_protocolList->Thaw();
}
