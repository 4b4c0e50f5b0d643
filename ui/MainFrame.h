// CMainFrame: the program's only top-level window.
//
// It carries the menu bar, the Shift+F6 accelerator, a two-pane status bar
// (the stored port settings, re-read from the profile at every refresh, and
// the time of day) and, as its client, the form view. It opens at the
// form's size; the user may make it larger (the page list takes the room)
// or maximise it, and the size is kept in the profile for the next start.
// It tells the view when it moves, is resized or minimised, and opens the
// help book for Help > Index.
#pragma once

#include "ui/ViewFrame.h"

#include <wx/frame.h>
#include <wx/longlong.h>

#include <memory>
#include <string>

class CDeliveriesDlg;
class CVolnexVw;
class wxMenu;
class wxHtmlHelpController;

class CMainFrame : public wxFrame, public IViewFrame {
  public:
    CMainFrame();
    ~CMainFrame() override;

    CVolnexVw* GetView() const { return m_pView; }
    // Names the profile in the title ("Volnex - ... (lab-line-2)"), so that
    // windows serving different lines are told apart; empty: no name.
    void SetProfileName(const std::string& strName);
    // The first size: the form and the whole status text fully shown (as far
    // as the screen allows; the view scrolls over the rest). Returns the
    // client size given.
    wxSize FitToForm(const wxSize& form) override;
    // The size the user gave the window in this profile before, if any
    // (WindowSize, the client's width and height in pixels, and
    // WindowMaximized in [Configuration]); kept at closing when the user
    // changed it.
    static constexpr const char* kSizeKey = "WindowSize";
    static constexpr const char* kMaximizedKey = "WindowMaximized";
    void RestoreSize() override;
    void SaveSize();
    // The view grew (or shrank) below by nChange pixels: the client follows,
    // as far as the screen allows. Returns the change made.
    int GrowClientBy(int nChange) override;
    // The frame's width at the size the program gave it.
    int GetFitWidth() const override {
        return m_fitClient.x + GetSize().x - GetClientSize().x;
    }
    // Brings both panes up to date; a pane is repainted only when its text
    // changes.
    void RefreshPanes();
    // View > Deliveries is in the menu while pages are delivered onward (a
    // target is set up); without targets the menu is as it always was.
    void ShowDeliveriesCommand(bool bShow) override;
    bool IsFrameMaximized() const override { return IsMaximized(); }
    // View > Deliveries: opens (or brings up) the deliveries window.
    void OnViewDeliveries();
    CDeliveriesDlg* GetDeliveriesDlg() const { return m_pDeliveries; }
    // The help book: beside the executable in the build tree, else installed.
    static wxString HelpBookPath();

  private:
    void CreateMenus();
    // The settings pane's text: the stored settings, the test modes, then
    // what the line is doing (no modem lines, waiting for a caller).
    wxString SettingsPaneText();
    // The width a status pane needs to show the text whole.
    int PaneWidthFor(const wxString& strText) const;
    void OnIdle(wxIdleEvent& event);
    void OnMove(wxMoveEvent& event);
    void OnSize(wxSizeEvent& event);
    void OnIconize(wxIconizeEvent& event);
    void OnClose(wxCloseEvent& event);
    void OnHelpIndex(wxCommandEvent& event);
    // The help book at a page of it; at its contents for an empty name.
    void ShowHelp(const std::string& strPage);
    void OnAbout(wxCommandEvent& event);
    void OnToggleStatusBar(wxCommandEvent& event);
    // View > Protocol Bytes in Hex: kept in the profile, shown at once.
    void OnToggleProtocolHex();
    // View > Protocol Times: the same for each line's time.
    void OnToggleProtocolTimes();

    CVolnexVw* m_pView = nullptr;
    bool m_bMenuOpen = false;
    bool m_bProtocolHex = false;
    bool m_bProtocolTimes = false;
    wxLongLong m_lastRefresh = 0;
    std::unique_ptr<wxHtmlHelpController> m_pHelp;
    wxMenu* m_pViewMenu = nullptr;
    bool m_bDeliveriesCommand = false;
    wxSize m_fitClient; // the client size the program gave, not the user
    CDeliveriesDlg* m_pDeliveries =
        nullptr; // a child window, made when first asked for
};
