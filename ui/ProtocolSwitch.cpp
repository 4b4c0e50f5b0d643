#include "ui/ProtocolSwitch.h"

#include "ui/ProtocolDlg.h"

#include <wx/toplevel.h>

void CProtocolSwitch::Create() {
    if (m_pDlg != nullptr)
        return;
    // Closed by the window manager: the same as the menu command.
    m_pDlg = new CProtocolDlg(m_pView, m_onClose);
    m_bHidden = false;
    m_pDlg->Show();
    // GTK gives a window its first size when it is shown: place it again.
    m_pDlg->PositionBelowFrame();
}

void CProtocolSwitch::Destroy() {
    if (m_pDlg == nullptr)
        return;
    m_pDlg->Destroy();
    m_pDlg = nullptr;
}

void CProtocolSwitch::FrameMoved() {
    if (m_pDlg == nullptr)
        return;
    m_pDlg->PositionBelowFrame();
    // Hidden with the minimised frame: back with the restored one.
    const wxTopLevelWindow* pFrame =
        wxDynamicCast(wxGetTopLevelParent(m_pView), wxTopLevelWindow);
    if (m_bHidden && pFrame != nullptr && !pFrame->IsIconized()) {
        m_bHidden = false;
        m_pDlg->Show();
        m_pDlg->PositionBelowFrame();
    }
}

void CProtocolSwitch::FrameMinimized() {
    if (m_pDlg != nullptr && m_pDlg->IsShown()) {
        m_pDlg->Hide();
        m_bHidden = true;
    }
}
