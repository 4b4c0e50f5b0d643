// CDeliveriesDlg: View > Deliveries, the recent pages kept for delivery
// onward with each target's state, attempts and last reason, and the two
// commands an operator needs when a receiver was down or refused a page:
// "Retry now" (every page waiting for the chosen target goes now) and
// "Retry" (the selected page goes again where it failed for good or
// expired).
//
// A modeless window owned by the main window; it reads the outbox through
// the session's delivery on the user-interface thread when it opens, every
// two seconds while it is shown, and after each command.
#pragma once

#include <wx/dialog.h>
#include <wx/timer.h>

#include <functional>
#include <string>
#include <vector>

class CDelivery;
class wxChoice;
class wxListCtrl;

class CDeliveriesDlg : public wxDialog {
  public:
    static constexpr int kRecentPages = 200;
    static constexpr int kRefreshMs = 2000;

    // getDelivery: the session's delivery now (null when no target is set
    // up); asked at each refresh, as targets may change with the profile.
    CDeliveriesDlg(wxWindow* pParent, std::function<CDelivery*()> getDelivery);

    // Reads the outbox again and shows it.
    void Refresh();
    // For tests: the list's rows as text ("time | pager | message | state").
    std::vector<std::string> RowTexts() const;
    void RetryTargetNow(const std::string& strTarget);
    void RetrySelectedPage();

  private:
    std::function<CDelivery*()> m_getDelivery;
    wxListCtrl* m_pList = nullptr;
    wxChoice* m_pTargets = nullptr;
    wxTimer m_timer;
    std::vector<std::string> m_ids; // the page id of each row
};
