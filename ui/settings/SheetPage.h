// CSheetPage: what the pages of the Connection sheet have in common.
//
// A page shows the stored values of the port in use and edits them; any
// change by the operator marks it pending (not yet applied) and changed
// (since the sheet was built), and enables the sheet's Apply. Selections the
// page makes itself mark nothing. Applying writes all of the page's values
// for the port selected in the sheet; a pending page is never refilled.
#pragma once

#include "settings/PortConfig.h"

#include <wx/panel.h>

// The sheet around the pages, as a page sees it.
class ISheetHost {
  public:
    virtual ~ISheetHost() = default;
    // 1 for COM1 to 4 for COM4; 0 when nothing is selected.
    virtual int GetSelectedPort() const = 0;
    // True when there are pending edits and the operator chose to keep them.
    virtual bool AskSaveChanges() = 0;
    // A page was changed by the operator: Apply becomes available.
    virtual void OnPageModified() = 0;
};

class CSheetPage : public wxPanel {
  public:
    CSheetPage(wxWindow* pParent, ISheetHost* pSheet);

    bool IsPending() const { return m_bPending; }
    bool IsChanged() const { return m_bChanged; }
    // Shows the stored values of the port in use, unless edits are pending.
    void FillControls();
    // Writes the page's values for the sheet's selected port when edits are
    // pending. False when the page refused a value (it said why): its edits
    // stay pending.
    bool Apply();
    // Whether the sheet may close: asks about pending edits.
    bool QueryCancel();
    void OnControlChanged();

  protected:
    virtual void ShowValues() = 0; // m_config into the controls
    // The controls into the profile; false for a value the page refuses.
    virtual bool WriteValues(uint8_t nPort) = 0;

    CPortConfig m_config;

  private:
    bool m_bPending = false;
    bool m_bChanged = false;
    ISheetHost* m_pSheet;
};
