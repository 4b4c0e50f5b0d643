#include "engine/SessionState.h"
#include "tests/TempDir.h"
#include "tests/TestSupport.h"
#include "tests/gui/GuiTest.h"
#include "ui/CommandIds.h"
#include "ui/MainFrame.h"
#include "ui/VolnexView.h"
#include "ui/settings/ConnectDlg.h"
#include "ui/settings/FlowControl.h"
#include "ui/settings/PortSettings.h"
#include "ui/settings/TestPage.h"

#include <wx/checkbox.h>
#include <wx/choice.h>
#include <wx/combobox.h>
#include <wx/stattext.h>
#include <wx/textctrl.h>

namespace {

// As the operator does it: a selection that sends its notification.
void Choose(wxChoice& list, int nIndex) {
    list.SetSelection(nIndex);
    wxCommandEvent event(wxEVT_CHOICE, list.GetId());
    event.SetInt(nIndex);
    event.SetEventObject(&list);
    list.GetEventHandler()->ProcessEvent(event);
}

void Tick(wxCheckBox& box, bool bOn) {
    box.SetValue(bOn);
    wxCommandEvent event(wxEVT_CHECKBOX, box.GetId());
    event.SetInt(bOn);
    event.SetEventObject(&box);
    box.GetEventHandler()->ProcessEvent(event);
}

std::string Shown(wxChoice& list) {
    return list.GetSelection() == wxNOT_FOUND ? "(none)"
                                              : list.GetStringSelection().ToStdString();
}

class ConnectDlgGuiTest : public ::testing::Test {
  protected:
    void SetUp() override { SetAppProfile(&profile); }
    void TearDown() override {
        SetAppProfile(nullptr);
        PumpEvents(10);
    }
    void Given(const std::string& strEntries) {
        CTempDir::Write(dir.Path("volnex.INI"), "[Configuration]\n" + strEntries);
    }
    std::string Key(const char* szKey) {
        return profile.GetString("Configuration", szKey, "(missing)");
    }

    CTempDir dir;
    CIniProfile profile{dir.Path("volnex.INI")};
};

TEST_F(ConnectDlgGuiTest, AnEmptyProfileShowsTheDefaults) {
    CConnectDlg sheet(nullptr);
    CPortSettings& ports = sheet.GetPortSettingsPage();
    EXPECT_EQ(sheet.GetTitle(), "Connection");
    EXPECT_EQ(Shown(sheet.GetPortList()), "COM1");
    EXPECT_EQ(Shown(ports.GetList(CPortSettings::IDC_BAUD_RATE)), "9600");
    EXPECT_EQ(Shown(ports.GetList(CPortSettings::IDC_DATA_BITS)), "8");
    EXPECT_EQ(Shown(ports.GetList(CPortSettings::IDC_PARITY)), "None");
    EXPECT_EQ(Shown(ports.GetList(CPortSettings::IDC_STOP_BITS)), "1");
    EXPECT_EQ(ports.GetDevice().GetValue(), "/dev/ttyS0");
    CFlowControl& flow = sheet.GetFlowControlPage();
    EXPECT_EQ(Shown(flow.GetRts()), "Enable");
    EXPECT_EQ(Shown(flow.GetDtr()), "Enable");
    EXPECT_FALSE(flow.GetCts().GetValue());
    EXPECT_FALSE(flow.GetDsr().GetValue());
    EXPECT_FALSE(sheet.HasChanged());
}

TEST_F(ConnectDlgGuiTest, StoredValuesAreMatchedIgnoringCaseOrLeftUnselected) {
    Given("CommPort=com2\nParity2=odd\nRTS2=7\nBaudRate2=230400\n");
    CConnectDlg sheet(nullptr);
    EXPECT_EQ(Shown(sheet.GetPortList()), "COM2");
    CPortSettings& ports = sheet.GetPortSettingsPage();
    EXPECT_EQ(Shown(ports.GetList(CPortSettings::IDC_PARITY)), "Odd");
    // A rate the list does not offer is shown as stored, not as an empty box.
    EXPECT_EQ(Shown(ports.GetList(CPortSettings::IDC_BAUD_RATE)), "230400");
    EXPECT_EQ(Shown(sheet.GetFlowControlPage().GetRts()), "(none)");
    // Another edit and Apply: the unlisted values stay as stored.
    Choose(ports.GetList(CPortSettings::IDC_DATA_BITS), 2);
    Choose(sheet.GetFlowControlPage().GetDtr(), 0);
    sheet.PressApply();
    EXPECT_EQ(Key("BaudRate2"), "230400");
    EXPECT_EQ(Key("RTS2"), "7");
    EXPECT_EQ(Key("DataBits2"), "7");
    EXPECT_EQ(Key("Parity2"), "Odd");
    EXPECT_EQ(Key("DTR2"), "0");
}

TEST_F(ConnectDlgGuiTest, TheRateListOffersEveryRateUpTo115200) {
    Given("BaudRate1=600\nBaudRate2=115200\n");
    CConnectDlg sheet(nullptr);
    wxChoice& rates = sheet.GetPortSettingsPage().GetList(CPortSettings::IDC_BAUD_RATE);
    std::vector<std::string> items;
    for (unsigned i = 0; i < rates.GetCount(); ++i)
        items.push_back(rates.GetString(i).ToStdString());
    EXPECT_EQ(items,
              (std::vector<std::string>{"300", "1200", "2400", "4800", "9600", "19200",
                                        "38400", "57600", "115200", "600"}));
    EXPECT_EQ(Shown(rates), "600");
    // Another port: its rate is listed, and the other's odd one is gone.
    sheet.ChoosePort(1);
    EXPECT_EQ(Shown(rates), "115200");
    EXPECT_EQ(rates.GetCount(), 9u);
    Choose(rates, 7);
    sheet.PressApply();
    EXPECT_EQ(Key("BaudRate2"), "57600");
    EXPECT_EQ(Key("BaudRate1"), "600");
}

TEST_F(ConnectDlgGuiTest, PickingAPortWritesItAtOnceAndShowsItsValues) {
    Given("BaudRate3=1200\nCTS3=1\n");
    CConnectDlg sheet(nullptr);
    sheet.ChoosePort(2);
    EXPECT_EQ(Key("CommPort"), "COM3");
    EXPECT_EQ(Shown(sheet.GetPortSettingsPage().GetList(CPortSettings::IDC_BAUD_RATE)),
              "1200");
    EXPECT_TRUE(sheet.GetFlowControlPage().GetCts().GetValue());
    EXPECT_EQ(sheet.GetPortSettingsPage().GetDevice().GetValue(), "/dev/ttyS2");
    sheet.PressCancel();
    EXPECT_EQ(sheet.GetReturnCode(), wxID_CANCEL);
    EXPECT_EQ(Key("CommPort"), "COM3");
    EXPECT_FALSE(sheet.HasChanged());
}

TEST_F(ConnectDlgGuiTest, TheDeviceListHoldsTheStoredDeviceAndAChoiceStoresItsPath) {
    Given("Device1=/dev/volnex-no-such-line\n");
    CConnectDlg sheet(nullptr);
    wxComboBox& device = sheet.GetPortSettingsPage().GetDevice();
    EXPECT_EQ(device.GetValue(), "/dev/volnex-no-such-line");
    ASSERT_GT(device.GetCount(), 0u);
    const int nLast = static_cast<int>(device.GetCount()) - 1;
    EXPECT_EQ(device.GetString(nLast), "/dev/volnex-no-such-line (not present)");
    // Chosen from the list, the field shows the path, not the label.
    device.SetValue("/dev/ttyUSB9");
    device.SetSelection(nLast);
    wxCommandEvent event(wxEVT_COMBOBOX, device.GetId());
    event.SetInt(nLast);
    event.SetEventObject(&device);
    device.GetEventHandler()->ProcessEvent(event);
    EXPECT_EQ(device.GetValue(), "/dev/volnex-no-such-line");
    EXPECT_TRUE(sheet.GetPortSettingsPage().IsPending());
    // A typed path is stored as typed.
    device.ChangeValue("/dev/my-adapter");
    sheet.PressApply();
    EXPECT_EQ(Key("Device1"), "/dev/my-adapter");
}

TEST_F(ConnectDlgGuiTest, SwitchingPortsWithPendingEditsAsksFirst) {
    // Yes: keep the edits, the list goes back.
    {
        CConnectDlg sheet(nullptr);
        Choose(sheet.GetPortSettingsPage().GetList(CPortSettings::IDC_BAUD_RATE), 1);
        wxTEST_DIALOG(
            sheet.ChoosePort(1),
            CExpectMessage("Settings have changed! Do you want to save changes?",
                           wxID_YES, wxICON_QUESTION),
            CExpectMessage("Please use Apply button to save changes!"));
        EXPECT_EQ(Shown(sheet.GetPortList()), "COM1");
        EXPECT_EQ(Key("CommPort"), "(missing)");
    }
    // No: the port changes, the edits stay and are applied for port 2.
    {
        CConnectDlg sheet(nullptr);
        Choose(sheet.GetPortSettingsPage().GetList(CPortSettings::IDC_BAUD_RATE), 1);
        wxTEST_DIALOG(
            sheet.ChoosePort(1),
            CExpectMessage("Settings have changed! Do you want to save changes?",
                           wxID_NO));
        EXPECT_EQ(Key("CommPort"), "COM2");
        EXPECT_EQ(
            Shown(sheet.GetPortSettingsPage().GetList(CPortSettings::IDC_BAUD_RATE)),
            "1200");
        sheet.PressOk();
        EXPECT_EQ(sheet.GetReturnCode(), wxID_OK);
        EXPECT_EQ(Key("BaudRate2"), "1200");
        EXPECT_EQ(Key("BaudRate1"), "(missing)");
        EXPECT_TRUE(sheet.HasChanged());
    }
}

TEST_F(ConnectDlgGuiTest, ApplyWritesAllFourValuesOfAnEditedPage) {
    CConnectDlg sheet(nullptr);
    Choose(sheet.GetPortSettingsPage().GetList(CPortSettings::IDC_PARITY), 0);
    sheet.PressApply();
    EXPECT_EQ(
        CTempDir::Read(dir.Path("volnex.INI")),
        "[Configuration]\nBaudRate1=9600\nDataBits1=8\nParity1=Even\nStopBits1=1\n"
        "Device1=/dev/ttyS0\n");
    EXPECT_FALSE(sheet.GetPortSettingsPage().IsPending());
}

TEST_F(ConnectDlgGuiTest, FlowControlOnAnotherPortAndOkFromTheOtherTab) {
    Given("CommPort=COM2\n");
    CConnectDlg sheet(nullptr);
    CFlowControl& flow = sheet.GetFlowControlPage();
    Tick(flow.GetCts(), true);
    Tick(flow.GetDsr(), true);
    Tick(flow.GetDsr(), false); // on and off again: still an edit
    sheet.PressOk();            // Port Settings is the visible tab
    EXPECT_EQ(Key("RTS2"), "1");
    EXPECT_EQ(Key("DTR2"), "1");
    EXPECT_EQ(Key("CTS2"), "1");
    EXPECT_EQ(Key("DSR2"), "0");
    EXPECT_EQ(Key("BaudRate2"), "(missing)"); // the untouched page wrote nothing
}

TEST_F(ConnectDlgGuiTest, CancelWithPendingEditsAsksAndYesKeepsTheSheetOpen) {
    CConnectDlg sheet(nullptr);
    sheet.SetReturnCode(0);
    Choose(sheet.GetFlowControlPage().GetRts(), 2);
    wxTEST_DIALOG(
        sheet.PressCancel(),
        CExpectMessage("Settings have changed! Do you want to save changes?", wxID_YES),
        CExpectMessage("Please use Apply button to save changes!"));
    EXPECT_EQ(sheet.GetReturnCode(), 0); // still open
    wxTEST_DIALOG(
        sheet.PressCancel(),
        CExpectMessage("Settings have changed! Do you want to save changes?", wxID_NO));
    EXPECT_EQ(sheet.GetReturnCode(), wxID_CANCEL);
    EXPECT_EQ(Key("RTS1"), "(missing)");
}

// The view's Connection command, with the sheet worked inside its modal run.
class CWorkTheSheet : public wxExpectModalBase<CConnectDlg> {
  public:
    explicit CWorkTheSheet(bool bChange) : m_bChange(bChange) {}

  protected:
    int OnInvoked(CConnectDlg* pSheet) const override {
        if (m_bChange)
            Choose(pSheet->GetPortSettingsPage().GetList(CPortSettings::IDC_BAUD_RATE),
                   0);
        pSheet->PressApply();
        return wxID_OK;
    }
    bool m_bChange;
};

TEST_F(ConnectDlgGuiTest, TheConnectionCommandLogsOffOnlyAfterAChange) {
    CPtyPair pty;
    Given("Device1=" + pty.SlavePath() + "\n");
    auto* frame = new CMainFrame;
    wxTheApp->SetTopWindow(frame);
    CVolnexVw* view = frame->GetView();
    view->OnInitialUpdate();
    pty.Read(3); // ESC EOT CR of the start
    {
        auto hold = view->LockSession(); // the line's thread runs the session too
        view->GetPort().QueryDsr(true);
        view->GetPort().QueryDcd(true);
    }
    for (char ch : std::string("\r\x1bPG1\r"))
        view->Notify(UM_COMM_RXCHAR, static_cast<unsigned char>(ch), 1);
    PumpEvents(30);
    pty.ReadQuiet(100);
    ASSERT_EQ(view->GetShownState(), "WAITING FOR PAGE ");

    wxTEST_DIALOG(frame->ProcessCommand(ID_CONNECTION), CWorkTheSheet(false));
    EXPECT_EQ(view->GetTerminal().GetState(), ST_WAITING_FOR_PAGE);

    wxTEST_DIALOG(
        frame->ProcessCommand(ID_CONNECTION), CWorkTheSheet(true),
        CExpectMessage(
            "Serial Port Settings have changed. New Logon to VELDRIN is required."));
    EXPECT_EQ(view->GetTerminal().GetState(), ST_LOGGED_OFF);
    EXPECT_EQ(view->GetShownState(), "WAITING FOR PAGE "); // not refreshed
    std::string line;
    for (int i = 0; i < 100 && line.size() < 3; ++i) {
        PumpEvents(10);
        line += pty.Read(3, 0);
    }
    EXPECT_EQ(line, "\x1b\x04\r");
    EXPECT_EQ(profile.GetString("Configuration", "BaudRate1", ""), "300");
    frame->Close(true);
    PumpEvents(30);
}

TEST_F(ConnectDlgGuiTest, ADevicePathInAnyLanguageIsShownAndStoredAsItIs) {
    const std::string stored = "/dev/serial/by-id/usb-Café_Модем-if00";
    Given("Device1=" + stored + "\n");
    CConnectDlg sheet(nullptr);
    wxComboBox& device = sheet.GetPortSettingsPage().GetDevice();
    EXPECT_EQ(device.GetValue().utf8_string(), stored);
    // Typed by the operator and applied: the same bytes in the profile.
    const std::string typed = "/home/rené/Документы/ttyV0";
    device.SetValue(wxString::FromUTF8(typed)); // sends the text event, as typing does
    sheet.PressApply();
    EXPECT_EQ(Key("Device1"), typed);
}

// As the operator types it: the text and its notification.
void Type(wxTextEntry& field, wxWindow& window, const std::string& strText) {
    field.ChangeValue(strText);
    wxCommandEvent event(wxEVT_TEXT, window.GetId());
    event.SetEventObject(&window);
    window.GetEventHandler()->ProcessEvent(event);
}

TEST_F(ConnectDlgGuiTest, ANetworkLineNeedsNoLineFormat) {
    Given("Device1=tcp-listen:2775\n");
    CConnectDlg sheet(nullptr);
    CPortSettings& ports = sheet.GetPortSettingsPage();
    for (int nId : {CPortSettings::IDC_BAUD_RATE, CPortSettings::IDC_DATA_BITS,
                    CPortSettings::IDC_PARITY, CPortSettings::IDC_STOP_BITS})
        EXPECT_FALSE(ports.GetList(nId).IsEnabled()) << nId;
    Type(ports.GetDevice(), ports.GetDevice(), "/dev/ttyUSB0");
    EXPECT_TRUE(ports.GetList(CPortSettings::IDC_BAUD_RATE).IsEnabled());
    Type(ports.GetDevice(), ports.GetDevice(), "tcp:10.0.0.5:4001");
    EXPECT_FALSE(ports.GetList(CPortSettings::IDC_PARITY).IsEnabled());
    sheet.PressOk();
    EXPECT_EQ(Key("Device1"), "tcp:10.0.0.5:4001");
}

TEST_F(ConnectDlgGuiTest, TheTestPageSetsThePortsTestBench) {
    Given("CommPort=COM2\nMisbehave2=delay:9000\n");
    CConnectDlg sheet(nullptr);
    CTestPage& test = sheet.GetTestPage();
    EXPECT_EQ(test.GetModes().GetValue(), "delay:9000");
    EXPECT_FALSE(test.GetDiagnose().GetValue());
    Type(test.GetModes(), test.GetModes(), "silent-every:2, nak-every:3");
    Tick(test.GetDiagnose(), true);
    sheet.PressApply();
    EXPECT_EQ(Key("Misbehave2"), "nak-every:3,silent-every:2"); // as the modes read it
    EXPECT_EQ(Key("Diagnose2"), "1");
    EXPECT_EQ(Key("Misbehave1"), "(missing)");
    EXPECT_TRUE(sheet.HasChanged());
}

// Each text on the Test page fits its place whole, at the dialog's size:
// none is cut at the right edge or the bottom.
TEST_F(ConnectDlgGuiTest, TheTestPagesHintsFitTheirPlace) {
    CConnectDlg sheet(nullptr);
    CTestPage& test = sheet.GetTestPage();
    int nTexts = 0;
    for (wxWindow* pChild : test.GetChildren()) {
        auto* pText = dynamic_cast<wxStaticText*>(pChild);
        if (pText == nullptr || pText->GetLabel().empty())
            continue;
        ++nTexts;
        const wxSize place = pText->GetSize();
        const wxArrayString lines = wxSplit(pText->GetLabel(), '\n', '\0');
        int nHeight = 0;
        for (const wxString& strLine : lines) {
            const wxSize extent = pText->GetTextExtent(strLine);
            EXPECT_LE(extent.x, place.x) << strLine;
            nHeight += extent.y;
        }
        EXPECT_LE(nHeight, place.y + place.y / 10) << pText->GetLabel();
    }
    EXPECT_GE(nTexts, 4);
}

TEST_F(ConnectDlgGuiTest, TheTestPageKeepsThePortsSessionLogFolder) {
    Given("CommPort=COM2\nLogFolder2=/var/log/volnex\n");
    CConnectDlg sheet(nullptr);
    CTestPage& test = sheet.GetTestPage();
    EXPECT_EQ(test.GetLogFolder().GetValue(), "/var/log/volnex");
    Type(test.GetLogFolder(), test.GetLogFolder(), " /srv/lab/log ");
    sheet.PressApply();
    EXPECT_EQ(Key("LogFolder2"), "/srv/lab/log");
    EXPECT_EQ(Key("LogFolder1"), "(missing)");
}

TEST_F(ConnectDlgGuiTest, AValueThatNamesNoTestModeIsRefusedAndKept) {
    CConnectDlg sheet(nullptr);
    CTestPage& test = sheet.GetTestPage();
    Type(test.GetModes(), test.GetModes(), "nak-every:3,explode");
    sheet.SetReturnCode(0);
    wxTEST_DIALOG(sheet.PressOk(),
                  CExpectMessage("Test modes: unknown mode 'explode'"));
    EXPECT_NE(sheet.GetReturnCode(), wxID_OK); // the sheet stays open
    EXPECT_EQ(Key("Misbehave1"), "(missing)");
    EXPECT_TRUE(test.IsPending());
    EXPECT_EQ(test.GetModes().GetValue(), "nak-every:3,explode");
    // Mended, it goes through.
    Type(test.GetModes(), test.GetModes(), "");
    sheet.PressOk();
    EXPECT_EQ(sheet.GetReturnCode(), wxID_OK);
    EXPECT_EQ(Key("Misbehave1"), "");
}

} // namespace
