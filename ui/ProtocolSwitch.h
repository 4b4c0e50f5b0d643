// CProtocolSwitch: the view's hold on the protocol window: creates and
// destroys it, and hides and shows it with the main frame when that is
// minimised and restored. Used on the user-interface thread only.
#pragma once

#include <functional>

class CProtocolDlg;
class wxWindow;

class CProtocolSwitch {
  public:
    // pView: the window's parent; onClose: the operator closed the window.
    CProtocolSwitch(wxWindow* pView, std::function<void()> onClose)
        : m_pView(pView), m_onClose(std::move(onClose)) {}

    void Create();
    void Destroy(); // the lines go with the window
    void FrameMoved();
    void FrameMinimized();
    CProtocolDlg* Get() const { return m_pDlg; }

  private:
    wxWindow* m_pView;
    std::function<void()> m_onClose;
    CProtocolDlg* m_pDlg = nullptr;
    bool m_bHidden = false; // by a minimise of the frame
};
