// CConnectDlg: the modal Connection sheet with its Port Settings, Flow
// Control and Test pages and its own port list (COM1 to COM4, lower left).
//
// Choosing a port writes "CommPort" at once (unless the operator keeps
// pending edits, which puts the list back); the pages write their values
// when they are applied (Apply or OK). After the run, HasChanged tells the
// caller whether any control of a page was changed.
#pragma once

#include "settings/PortConfig.h"
#include "ui/settings/SheetPage.h"

#include <wx/propdlg.h>

#include <array>

class CFlowControl;
class CPortSettings;
class CTestPage;
class IMessageBoxes;
class wxChoice;

class CConnectDlg : public wxPropertySheetDialog, public ISheetHost {
  public:
    enum { IDC_COMM_PORT = 1044 };

    explicit CConnectDlg(wxWindow* pParent);

    int GetSelectedPort() const override;
    bool AskSaveChanges() override;
    bool HasChanged() const;
    void OnPageModified() override;

    // The sheet's buttons and port list, as the operator works them.
    void PressOk();
    void PressApply();
    void PressCancel();
    void ChoosePort(int nIndex);

    CPortSettings& GetPortSettingsPage() { return *m_pagePortSettings; }
    CFlowControl& GetFlowControlPage() { return *m_pageFlowControl; }
    CTestPage& GetTestPage() { return *m_pageTest; }
    wxChoice& GetPortList() { return *m_cbCommPort; }

  private:
    void OnPortChanged();
    // Applies every page; false when one refused a value.
    bool ApplyPages();
    void FillPages();
    std::array<CSheetPage*, 3> Pages() const;
    CSheetPage* VisiblePage() const;
    void SelectConfiguredPort();
    void Finish(int nCode);

    CPortConfig m_config;
    wxChoice* m_cbCommPort = nullptr;
    CPortSettings* m_pagePortSettings = nullptr;
    CFlowControl* m_pageFlowControl = nullptr;
    CTestPage* m_pageTest = nullptr;
    IMessageBoxes* m_pBoxes;
};
