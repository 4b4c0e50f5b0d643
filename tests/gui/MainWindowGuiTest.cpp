#include "engine/Checksum.h"
#include "engine/SessionState.h"
#include "session/Charset.h"
#include "session/Clock.h"
#include "session/PageRecord.h"
#include "tests/TempDir.h"
#include "tests/TestClock.h"
#include "tests/TestSupport.h"
#include "tests/gui/GuiTest.h"
#include "tests/gui/ProgramFixture.h"
#include "ui/AboutDlg.h"
#include "ui/CommandIds.h"
#include "ui/MainFrame.h"
#include "ui/ReportListBox.h"
#include "ui/VolnexView.h"
#include "ui/WxMessageBoxes.h"

#include <gtk/gtk.h>
#include <nlohmann/json.hpp>
#include <wx/display.h>
#include <wx/filedlg.h>
#include <wx/html/helpfrm.h>
#include <wx/html/helpwnd.h>
#include <wx/html/htmlwin.h>
#include <wx/menu.h>
#include <wx/statusbr.h>

#include <algorithm>
#include <functional>
#include <sys/stat.h>
#include <unistd.h>

namespace {

std::time_t At(int nHour, int nMin, int nSec = 0) {
    return LocalTime(2026, 12, 8, nHour, nMin, nSec);
}

const std::string kGoodBlock = "\x02"
                               "1234\rHI\r\x03"
                               "17:\r";
const std::string kBadBlock = "\x02"
                              "1234\rHI\r\x03"
                              "17;\r";

// A page block; a bad one carries the checksum "???".
std::string Block(const std::string& strPager, const std::string& strMessage,
                  bool bBad) {
    std::string strBlock = MakePageBlock(strPager, strMessage);
    if (bBad)
        strBlock.replace(strBlock.size() - 4, 3, "???");
    return strBlock;
}

// The program's window with a throw-away profile whose COM1 is a
// pseudo-terminal the test holds the other end of.
class MainWindowGuiTest : public CProgramFixture {
  protected:
    void SetUp() override {
        clock.when = At(14, 5);
        SetClock(&clock);
        StartProgram();
    }
    void TearDown() override {
        CProgramFixture::TearDown();
        SetClock(nullptr);
    }

    // The line levels on and a caller logged on, fed straight to the view as
    // the monitor thread delivers them.
    void LogOn() {
        auto hold = view->LockSession(); // the line's thread runs the session too
        view->GetPort().QueryDsr(true);
        view->GetPort().QueryDcd(true);
        Feed("\r\x1bPG1\r");
        ASSERT_EQ(view->GetTerminal().GetState(), ST_WAITING_FOR_PAGE);
    }
    void Feed(const std::string& strBytes) {
        for (char ch : strBytes)
            view->Notify(UM_COMM_RXCHAR, static_cast<unsigned char>(ch), 1);
    }
    std::vector<std::string> Lines() { return view->GetPageList().GetLines(); }

    CFixedClock clock;
};

TEST_F(MainWindowGuiTest, StateDisplayStartsAsDisconnectedAndShowsEveryState) {
    EXPECT_EQ(view->GetShownState(), "DISCONNECTED");
    EXPECT_EQ(view->GetIndicatorText(CVolnexVw::IDC_DSR), "n/a"); // a pseudo-terminal
    for (int nState = 0; nState < 9; ++nState) {
        view->Notify(UM_SESSION_STATE, 0, nState);
        EXPECT_EQ(view->GetShownState(), GetStateText(nState));
    }
    EXPECT_EQ(frame->GetTitle(), "Volnex - Marivane Didoza Zuri Zovivazir");
}

// The size the user gave the window is kept in its profile; a window left
// at its first size writes nothing there.
TEST_F(MainWindowGuiTest, TheWindowSizeTheUserGaveIsKeptInTheProfile) {
    const wxSize first = frame->GetClientSize();
    frame->Close(true);
    PumpEvents(30);
    frame = nullptr;
    EXPECT_EQ(CTempDir::Read(dir.Path("volnex.INI")).find("WindowSize"),
              std::string::npos);

    StartProgram("WindowSize=" + std::to_string(first.x + 120) + "x" +
                 std::to_string(first.y + 80) + "\n");
    EXPECT_EQ(frame->GetClientSize(), first + wxSize(120, 80));
    frame->SetClientSize(first + wxSize(200, 100));
    PumpEvents(30);
    frame->Close(true);
    PumpEvents(30);
    frame = nullptr;
    CIniProfile stored(dir.Path("volnex.INI"));
    EXPECT_EQ(stored.GetString("Configuration", "WindowSize", ""),
              std::to_string(first.x + 200) + "x" + std::to_string(first.y + 100));

    for (const char* szBad :
         {"huge", "50x50", "800x", "-900x700", "99999999999x700", "900x700x"}) {
        StartProgram(std::string("WindowSize=") + szBad + "\n");
        EXPECT_EQ(frame->GetClientSize(), first) << szBad;
        frame->Close(true);
        PumpEvents(30);
        frame = nullptr;
    }
}

// View > Page Details: the selected page whole below the list, its bytes
// in hex when it holds anything but printable ASCII; also when the list is
// filtered.
TEST_F(MainWindowGuiTest, ThePageDetailsShowTheSelectedPageWhole) {
    frame->Close(true);
    PumpEvents(30);
    StartProgram("Charset1=latin1\n");
    const wxSize form = view->GetFormSize();
    const wxSize client = frame->GetClientSize();
    view->OnViewPageDetails();
    ASSERT_TRUE(view->IsPageDetailsShown());
    const int nPane = view->GetFormSize().y - form.y;
    EXPECT_GT(nPane, 0);
    EXPECT_EQ(frame->GetClientSize(),
              client + wxSize(0, nPane)); // seen without scrolling
    EXPECT_NE(CTempDir::Read(dir.Path("volnex.INI")).find("ViewPageDetails=1"),
              std::string::npos);
    EXPECT_EQ(view->GetPageDetails(),
              "Select a page in the list to read it whole here.");

    std::string strLong;
    for (int i = 0; i < 9; ++i) // 192 characters, about three times the list's width
        strLong += "WORD" + std::to_string(i) + " OF A LONG ALARM ";
    LogOn();
    Feed(Block("1234", strLong, false));
    Feed(Block("77", "CAF\xC9 \x80", false));
    CReportListBox& list = view->GetPageList();
    ASSERT_EQ(list.GetCount(), 2u) << ::testing::PrintToString(list.GetLines());
    auto select = [&](CReportListBox& shown, int nRow) {
        shown.DeselectAll();
        shown.SetSelection(nRow);
        wxCommandEvent event(wxEVT_LISTBOX, shown.GetId());
        event.SetEventObject(&shown);
        event.SetInt(nRow);
        shown.ProcessWindowEvent(event);
    };
    select(list, 0);
    const wxString strFirst = view->GetPageDetails();
    EXPECT_TRUE(strFirst.StartsWith("Pager 1234, 2026-12-08T14:05:00.000")) << strFirst;
    EXPECT_NE(strFirst.Find(", 1 block, accepted (ACK)\n"), wxNOT_FOUND) << strFirst;
    EXPECT_NE(strFirst.Find("Message (" + std::to_string(strLong.size()) +
                            " bytes):\n" + strLong + "\n"),
              wxNOT_FOUND)
        << strFirst;
    EXPECT_EQ(strFirst.Find("hex"), wxNOT_FOUND);
    select(list, 1);
    const wxString strSecond = view->GetPageDetails();
    EXPECT_TRUE(
        strSecond.EndsWith(wxString::FromUTF8("Message (6 bytes):\nCAF\xC3\x89 \\x80\n"
                                              "Bytes in hex:\n43 41 46 C9 20 80\n")))
        << strSecond;

    // Filtered to the second page: its row is the first shown.
    select(list, 0);
    list.SetFilter(true, "CAF", false);
    ASSERT_EQ(list.GetShownList().GetCount(), 1u);
    EXPECT_EQ(view->GetPageDetails(),
              "Select a page in the list to read it whole here.");
    select(list.GetShownList(), 0);
    EXPECT_EQ(view->GetPageDetails(), strSecond);
    list.SetFilter(false, "", false);
    EXPECT_EQ(view->GetPageDetails(), strFirst); // the whole list's selection again

    // Cleared, nothing is selected; switched off, the form is as before.
    wxTEST_DIALOG(view->OnDblclkPageList(), wxExpectModal<wxMessageDialog>(wxID_YES));
    EXPECT_EQ(view->GetPageDetails(),
              "Select a page in the list to read it whole here.");
    view->OnViewPageDetails();
    EXPECT_FALSE(view->IsPageDetailsShown());
    EXPECT_EQ(view->GetFormSize(), form);
    EXPECT_EQ(frame->GetClientSize(), client);

    // A window as tall as the screen cannot grow by the pane, and does not
    // shrink when it goes either.
    const wxSize tall(client.x, wxDisplay(0u).GetClientArea().height -
                                    (frame->GetSize().y - frame->GetClientSize().y));
    frame->SetClientSize(tall);
    view->OnViewPageDetails();
    EXPECT_EQ(frame->GetClientSize(), tall);
    view->OnViewPageDetails();
    EXPECT_EQ(frame->GetClientSize(), tall);
}

// Several windows, one per line: a profile other than the default one is
// named in the title.
TEST_F(MainWindowGuiTest, TheTitleNamesTheProfileOfTheLine) {
    frame->SetProfileName("lab-line-2");
    EXPECT_EQ(frame->GetTitle(),
              "Volnex - Marivane Didoza Zuri Zovivazir (lab-line-2)");
    frame->SetProfileName("");
    EXPECT_EQ(frame->GetTitle(), "Volnex - Marivane Didoza Zuri Zovivazir");
}

// A pseudo-terminal has no modem lines: the levels it is said to have are
// not shown as if they were measured. (The session's level texts are
// tested with a device that has them.)
TEST_F(MainWindowGuiTest, ADeviceWithoutModemLinesShowsItsLevelsAsNotApplicable) {
    view->Notify(UM_COMM_CTS, MS_CTS_ON, 1);
    view->Notify(UM_COMM_DSR, 1, 1); // as QueryDsr sends it
    for (int nId : {CVolnexVw::IDC_CTS, CVolnexVw::IDC_DSR, CVolnexVw::IDC_DCD})
        EXPECT_EQ(view->GetIndicatorText(nId), "n/a") << nId;
    view->Notify(UM_COMM_CTS, 0, 1);
    EXPECT_EQ(view->GetIndicatorText(CVolnexVw::IDC_CTS), "n/a");
}

TEST_F(MainWindowGuiTest, PagesAreListedWithTheirTimeAndCounted) {
    LogOn();
    Feed(kGoodBlock);
    EXPECT_EQ(Lines(), (std::vector<std::string>{"12/08/2026 14:05:00  1234 HI  "}));
    Feed(kBadBlock);
    Feed("\x02"
         "77\rA\x1a"
         "AB\rX\r\x03"); // a third field: judged at the ETX
    std::vector<std::string> lines = Lines();
    ASSERT_EQ(lines.size(), 5u);
    EXPECT_EQ(lines[1], "12/08/2026 14:05:00  1234 HI  17; ");
    EXPECT_EQ(lines[2], "\tBAD PAGE - INVALID CHECKSUM");
    EXPECT_EQ(lines[3], "12/08/2026 14:05:00 \x02"
                        "77\rA<SOH>B\rX\r\x03");
    EXPECT_EQ(lines[4], "\tBAD PAGE - INVALID FORMAT");
    EXPECT_EQ(view->GetGoodPages(), 1u);
    EXPECT_EQ(view->GetBadPages(), 2u);
}

TEST_F(MainWindowGuiTest, AFullListDropsItsOldestEntriesWhole) {
    LogOn();
    CReportListBox& list = view->GetPageList();
    list.AddLine("12/08/2026 14:00:00  77 OLDEST  ");
    list.AddLine("\tBAD PAGE - INVALID CHECKSUM");
    for (int i = 2; i < 500; ++i)
        list.AddLine("line " + std::to_string(i));
    Feed(kGoodBlock); // the oldest page goes with its result line
    ASSERT_EQ(list.GetCount(), 499u);
    EXPECT_EQ(list.GetLine(0), "line 2");
    EXPECT_EQ(list.GetLine(498), "12/08/2026 14:05:00  1234 HI  ");
    Feed(kBadBlock);
    ASSERT_EQ(list.GetCount(), 500u);
    EXPECT_EQ(list.GetLine(0), "line 3");
    EXPECT_EQ(list.GetLine(497), "12/08/2026 14:05:00  1234 HI  ");
    EXPECT_EQ(list.GetLine(498), "12/08/2026 14:05:00  1234 HI  17; ");
    EXPECT_EQ(list.GetLine(499), "\tBAD PAGE - INVALID CHECKSUM");
}

TEST_F(MainWindowGuiTest, ALongSessionKeepsTheNewestPagesAndTheirReport) {
    LogOn();
    for (int i = 0; i < 600; ++i)
        Feed(Block(std::to_string(1000 + i), "PAGE " + std::to_string(i), i % 2 == 1));
    const std::vector<std::string> lines = Lines();
    ASSERT_EQ(lines.size(), 500u); // 300 good pages of one line, 300 bad of two
    // Pages 0 to 265 went (399 lines), then page 266 (its one line).
    EXPECT_EQ(lines.front().substr(20), " 1267 PAGE 267  ??? ");
    EXPECT_EQ(lines[1], "\tBAD PAGE - INVALID CHECKSUM");
    EXPECT_EQ(lines[2].substr(20), " 1268 PAGE 268  ");
    EXPECT_EQ(lines[lines.size() - 2].substr(20), " 1599 PAGE 599  ??? ");
    EXPECT_EQ(lines.back(), "\tBAD PAGE - INVALID CHECKSUM");
    EXPECT_EQ(view->GetGoodPages(), 300u);
    EXPECT_EQ(view->GetBadPages(), 300u);
    // The report holds the same newest lines, and says what it leaves out.
    const std::string path = dir.Path("pages.txt");
    wxTEST_DIALOG(view->OnLogFile(), wxExpectModal<wxFileDialog>(path),
                  CExpectMessage("Saved 500 lines to " + path +
                                 "\nthe newest 333 of 600 pages; CSV and JSON lines "
                                 "save them all"));
    std::string expected = "Dudova Deza List Report saved:  12/08/26 02:05:00 PM\r\n";
    for (const std::string& line : lines)
        expected += line + "\r\n";
    EXPECT_EQ(CTempDir::Read(path), expected);
    // The exports hold every page. The typed extension picks the form even
    // with the text type chosen.
    const std::string csv = dir.Path("pages.csv");
    wxTEST_DIALOG(view->OnLogFile(), wxExpectModal<wxFileDialog>(csv),
                  CExpectMessage("Saved 600 pages to " + csv));
    const std::string strCsv = CTempDir::Read(csv);
    EXPECT_EQ(std::count(strCsv.begin(), strCsv.end(), '\n'), 601);
    EXPECT_NE(strCsv.find(",1000,PAGE 0,accepted,"), std::string::npos);
    EXPECT_NE(strCsv.find(",1599,PAGE 599,bad-checksum,"), std::string::npos);
    const std::string jsonl = dir.Path("pages.JSONL");
    wxTEST_DIALOG(view->OnLogFile(), wxExpectModal<wxFileDialog>(jsonl),
                  CExpectMessage("Saved 600 pages to " + jsonl));
    const std::string strJson = CTempDir::Read(jsonl);
    EXPECT_EQ(std::count(strJson.begin(), strJson.end(), '\n'), 600);
    EXPECT_EQ(strJson.substr(0, 1), "{");
}

// A message's bytes become text in the port's charset: UTF-8 shows as its
// letters with Charset1=utf-8; by default (ascii) a byte from 80 hex up
// shows as \xNN, never as a stray letter.
TEST_F(MainWindowGuiTest, ThePageListShowsTheMessageInThePortsCharset) {
    const std::string strMessage = "CAF\xC3\x89 \xE2\x82\xAC \xFF";
    LogOn();
    Feed(Block("77", strMessage, false));
    ASSERT_EQ(Lines().size(), 1u);
    EXPECT_TRUE(view->GetPageList().GetString(0).EndsWith(
        " 77 CAF\\xC3\\x89 \\xE2\\x82\\xAC \\xFF  "))
        << view->GetPageList().GetString(0);
    frame->Close(true);
    PumpEvents(30);
    StartProgram("Charset1=utf-8\n");
    LogOn();
    Feed(Block("77", strMessage, false));
    ASSERT_EQ(Lines().size(), 1u);
    const wxString strShown = view->GetPageList().GetString(0);
    EXPECT_TRUE(
        strShown.EndsWith(wxString::FromUTF8(" 77 CAF\xC3\x89 \xE2\x82\xAC \\xFF  ")))
        << strShown;
    // The report holds the same text, as UTF-8.
    const std::string path = dir.Path("pages.txt");
    wxTEST_DIALOG(view->OnLogFile(), wxExpectModal<wxFileDialog>(path),
                  CExpectMessage("Saved 1 lines to " + path));
    EXPECT_NE(CTempDir::Read(path).find(" 77 CAF\xC3\x89 \xE2\x82\xAC \\xFF  \r\n"),
              std::string::npos);
}

// Answers the save dialog with a path and one of its file types; the
// proposed name must have become strProposed when the type was chosen.
class CExpectSaveAs : public wxExpectModal<wxFileDialog> {
  public:
    CExpectSaveAs(const std::string& strPath, int nFilter, const char* szProposed)
        : wxExpectModal<wxFileDialog>(strPath), m_nFilter(nFilter),
          m_szProposed(szProposed) {}

  protected:
    int OnInvoked(wxFileDialog* pDialog) const override {
        EXPECT_EQ(pDialog->GetWildcard(),
                  "Text Files (*.txt)|*.txt;*.TXT|CSV (*.csv)|*.csv;*.CSV|"
                  "JSON lines (*.jsonl)|*.jsonl;*.JSONL|All Files (*.*)|*.*");
        pDialog->SetFilterIndex(m_nFilter);
        GtkFileChooser* pChooser = GTK_FILE_CHOOSER(pDialog->GetHandle());
        gchar* szName = gtk_file_chooser_get_current_name(pChooser);
        EXPECT_STREQ(szName, m_szProposed);
        g_free(szName);
        return wxExpectModal<wxFileDialog>::OnInvoked(pDialog);
    }

  private:
    int m_nFilter;
    const char* m_szProposed;
};

TEST_F(MainWindowGuiTest, ThePageListSavesAsCsvAndAsJsonLines) {
    LogOn();
    Feed(kGoodBlock);
    Feed(kBadBlock);
    // Quotes, a comma and a line feed in the message.
    const std::string strMessage = "SAY \"HI\", BOB\nNEXT";
    Feed(Block("77", strMessage, false));
    const std::vector<std::string> lines = Lines();
    ASSERT_EQ(lines.size(), 4u);
    ASSERT_EQ(view->GetGoodPages(), 2u);

    // A name typed without an extension gets the type's.
    const std::string csv = dir.Path("pages");
    wxTEST_DIALOG(view->OnLogFile(), CExpectSaveAs(csv, 1, "TEMP.csv"),
                  CExpectMessage("Saved 3 pages to " + csv + ".csv"));
    const std::string lead = IsoLocalTime(std::int64_t(clock.when) * 1000) + ",COM1," +
                             pty.SlavePath() + ",";
    EXPECT_EQ(
        CTempDir::Read(csv + ".csv"),
        "time,port,device,pager,message,verdict,result,blocks,answer,message_hex\r\n" +
            lead + "1234,HI,accepted,,1,ACK,\r\n" + lead +
            "1234,HI,bad-checksum,BAD PAGE - INVALID CHECKSUM,1,NAK,\r\n" + lead +
            "77,\"SAY \"\"HI\"\", BOB\nNEXT\",accepted,,1,ACK,"
            "53415920224849222C20424F420A4E455854\r\n");

    const std::string jsonl = dir.Path("pages.jsonl");
    wxTEST_DIALOG(view->OnLogFile(), CExpectSaveAs(jsonl, 2, "TEMP.jsonl"),
                  CExpectMessage("Saved 3 pages to " + jsonl));
    const std::string strJson = CTempDir::Read(jsonl);
    std::vector<nlohmann::json> pages;
    size_t nAt = 0;
    for (size_t nEnd; (nEnd = strJson.find('\n', nAt)) != std::string::npos;
         nAt = nEnd + 1)
        pages.push_back(nlohmann::json::parse(strJson.substr(nAt, nEnd - nAt)));
    ASSERT_EQ(pages.size(), 3u);
    const std::pair<std::string, std::string> fields[] = {
        {"1234", "HI"}, {"1234", "HI"}, {"77", strMessage}};
    const size_t pageLines[] = {0, 1, 3};
    for (size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(pages[i]["pager"], fields[i].first) << i;
        EXPECT_EQ(pages[i]["message"], fields[i].second) << i;
        // The list's line for the page holds them both, a blank apart.
        EXPECT_NE(lines[pageLines[i]].find(fields[i].first + " " + fields[i].second),
                  std::string::npos)
            << lines[pageLines[i]];
    }

    // All files: the name says which form, the text report by default.
    const std::string all = dir.Path("all");
    wxTEST_DIALOG(view->OnLogFile(), CExpectSaveAs(all, 3, "TEMP.TXT"),
                  CExpectMessage("Saved 4 lines to " + all + ".TXT"));
    EXPECT_EQ(CTempDir::Read(all + ".TXT").substr(0, 30),
              "Dudova Deza List Report saved:");
    wxTEST_DIALOG(view->OnLogFile(), CExpectSaveAs(all + ".CSV", 3, "TEMP.TXT"),
                  CExpectMessage("Saved 3 pages to " + all + ".CSV"));
    // A typed extension outweighs the chosen type; another extension keeps
    // the type's form.
    wxTEST_DIALOG(view->OnLogFile(), CExpectSaveAs(all + ".txt", 1, "TEMP.csv"),
                  CExpectMessage("Saved 4 lines to " + all + ".txt"));
    wxTEST_DIALOG(view->OnLogFile(), CExpectSaveAs(all + ".log", 2, "TEMP.jsonl"),
                  CExpectMessage("Saved 3 pages to " + all + ".log"));
    EXPECT_EQ(CTempDir::Read(all + ".log").substr(0, 2), "{\"");

    // A file that cannot be made is said, as for the text report.
    const std::string folder = dir.Path("folder.csv");
    ASSERT_EQ(mkdir(folder.c_str(), 0700), 0);
    wxTEST_DIALOG(view->OnLogFile(), CExpectSaveAs(folder, 1, "TEMP.csv"),
                  CExpectMessage("Unable to open/create the file\n" + folder +
                                 ": Is a directory"));
    // Cleared with the list: nothing of the old pages comes back.
    wxTEST_DIALOG(view->OnDblclkPageList(),
                  CExpectMessage("Clear All messages?", wxID_YES));
    wxTEST_DIALOG(view->OnLogFile(), CExpectSaveAs(jsonl, 2, "TEMP.jsonl"),
                  CExpectMessage("Saved 0 pages to " + jsonl));
    EXPECT_EQ(CTempDir::Read(jsonl), "");
}

// The last line in view, as the list shows it once laid out.
bool ShowsLastLine(CReportListBox& list) {
    GtkTreePath* pEnd = nullptr;
    if (!gtk_tree_view_get_visible_range(list.m_treeview, nullptr, &pEnd))
        return false;
    const bool bLast = gtk_tree_path_get_indices(pEnd)[0] + 1 == int(list.GetCount());
    gtk_tree_path_free(pEnd);
    return bLast;
}

// Every byte value from 20 to FF hex in one message, through each charset:
// the list shows it as text in the charset, the JSON lines export carries
// that text and the exact bytes.
TEST_F(MainWindowGuiTest, EveryByteReachesTheListAndTheExportInEachCharset) {
    std::string strBytes;
    for (int ch = 0x20; ch <= 0xFF; ++ch)
        strBytes += static_cast<char>(ch);
    for (Charset charset :
         {Charset::kAscii, Charset::kLatin1, Charset::kCp1252, Charset::kUtf8}) {
        const std::string strName = CharsetName(charset);
        frame->Close(true);
        PumpEvents(30);
        StartProgram("Charset1=" + strName + "\n");
        LogOn();
        Feed(Block("9", strBytes, false));
        ASSERT_EQ(Lines().size(), 1u) << strName;
        const std::string strText = DecodeText(strBytes, charset);
        EXPECT_TRUE(view->GetPageList().GetString(0).EndsWith(
            wxString::FromUTF8(" 9 " + strText + "  ")))
            << strName << ": " << view->GetPageList().GetString(0);
        const std::string jsonl = dir.Path(strName + ".jsonl");
        wxTEST_DIALOG(view->OnLogFile(), CExpectSaveAs(jsonl, 2, "TEMP.jsonl"),
                      CExpectMessage("Saved 1 pages to " + jsonl));
        const nlohmann::json page = nlohmann::json::parse(CTempDir::Read(jsonl));
        EXPECT_EQ(page["message"], strText) << strName;
        EXPECT_EQ(page["message_hex"], CompactHex(strBytes)) << strName;
    }
}

TEST_F(MainWindowGuiTest, TheListFollowsNewPagesOnlyForAReaderAtItsEnd) {
    LogOn();
    CReportListBox& list = view->GetPageList();
    for (int i = 0; i < 480; ++i)
        list.AddLine("line " + std::to_string(i));
    // The reader scrolls to the end: the list follows each new page, also
    // while the oldest lines go and several pages come between layouts.
    list.SetFirstItem(479);
    ASSERT_TRUE(PumpUntil([&] { return ShowsLastLine(list); }));
    for (int i = 0; i < 30; ++i)
        Feed(Block("2000", "FOLLOW " + std::to_string(i), false));
    ASSERT_EQ(list.GetLine(list.GetCount() - 1).substr(20), " 2000 FOLLOW 29  ");
    EXPECT_TRUE(PumpUntil([&] { return ShowsLastLine(list); }));
    for (int i = 0; i < 5; ++i) {
        Feed(Block("2001", "ONE BY ONE " + std::to_string(i), true));
        PumpEvents(20);
        EXPECT_TRUE(list.IsFollowingEnd());
    }
    EXPECT_TRUE(PumpUntil([&] { return ShowsLastLine(list); }));

    // The reader scrolls up to line 100: it stays at the top while older
    // lines go.
    list.SetFirstItem(100);
    ASSERT_TRUE(PumpUntil([&] { return list.GetTopItem() == 100; }));
    const std::string read = list.GetLine(100);
    for (int i = 0; i < 10; ++i)
        Feed(Block("2002", "UNSEEN " + std::to_string(i), false));
    ASSERT_EQ(list.GetLine(90), read); // ten lines went above it
    EXPECT_TRUE(PumpUntil([&] { return list.GetTopItem() == 90; }));
    PumpEvents(50);
    EXPECT_EQ(list.GetTopItem(), 90);
    EXPECT_FALSE(ShowsLastLine(list));
}

TEST_F(MainWindowGuiTest, LogoffZeroesTheCountersAndClearingAsksFirst) {
    LogOn();
    Feed(kGoodBlock);
    Feed(kBadBlock);
    wxTEST_DIALOG(view->OnDblclkPageList(),
                  CExpectMessage("Clear All messages?", wxID_NO, wxNO_DEFAULT));
    EXPECT_EQ(Lines().size(), 3u);
    EXPECT_EQ(view->GetGoodPages(), 1u);
    view->OnLogoff();
    EXPECT_EQ(view->GetGoodPages(), 0u);
    EXPECT_EQ(view->GetBadPages(), 0u);
    EXPECT_EQ(Lines().size(), 3u);
    EXPECT_EQ(view->GetShownState(), "LOGGED OFF");
    wxTEST_DIALOG(view->OnDblclkPageList(),
                  CExpectMessage("Clear All messages?", wxID_YES, wxICON_EXCLAMATION));
    EXPECT_TRUE(Lines().empty());
}

TEST_F(MainWindowGuiTest, StatusBarShowsTheStoredSettingsAndTheClock) {
    wxStatusBar* pStatus = frame->GetStatusBar();
    frame->RefreshPanes();
    // A pseudo-terminal has no modem lines: said, and its levels are n/a.
    const std::string strNote = " (no modem lines";
    EXPECT_EQ(pStatus->GetStatusText(0),
              "Port Settings : Port: COM1 " + pty.SlavePath() +
                  " BaudRate: 9600 Parity: None StopBits: 1 DataBits: 8" + strNote +
                  "; waiting for a caller)");
    EXPECT_EQ(pStatus->GetStatusText(1), "14:05");
    for (int nId : {CVolnexVw::IDC_CTS, CVolnexVw::IDC_DSR, CVolnexVw::IDC_DCD})
        EXPECT_TRUE(PumpUntil([&] { return view->GetIndicatorText(nId) == "n/a"; }))
            << nId;
    LogOn();
    frame->RefreshPanes();
    EXPECT_TRUE(pStatus->GetStatusText(0).EndsWith(strNote + ")"))
        << pStatus->GetStatusText(0);
    profile.WriteString("Configuration", "BaudRate1", "2400");
    for (auto [nHour, nMin, szText] :
         {std::tuple{0, 7, "0:07"}, std::tuple{9, 5, "9:05"},
          std::tuple{23, 59, "23:59"}}) {
        clock.when = At(nHour, nMin, 30);
        frame->RefreshPanes();
        EXPECT_EQ(pStatus->GetStatusText(1), szText);
    }
    EXPECT_EQ(pStatus->GetStatusText(0),
              "Port Settings : Port: COM1 " + pty.SlavePath() +
                  " BaudRate: 2400 Parity: None StopBits: 1 DataBits: 8" + strNote +
                  ")");
}

TEST_F(MainWindowGuiTest, ASettingThatCannotBeSavedIsToldOnce) {
    ShowProfileFailures(profile);
    // Something in the profile's place that cannot be replaced by a file.
    const std::string strPath = dir.Path("volnex.INI");
    std::remove(strPath.c_str());
    ASSERT_EQ(mkdir(strPath.c_str(), 0755), 0);
    const std::string strText =
        "Unable to save the settings; the change is not kept.\n" + strPath +
        ": is a folder";
    wxTEST_DIALOG(view->OnViewProtocolMessages(), CExpectMessage(strText));
    view->OnViewProtocolMessages(); // the same outage: no second box
    EXPECT_FALSE(view->IsProtocolChecked());
    profile.SetFailureHandler(nullptr);
}

TEST_F(MainWindowGuiTest, MenusHaveTheirItemsAndStates) {
    wxMenuBar* pBar = frame->GetMenuBar();
    ASSERT_EQ(pBar->GetMenuCount(), 4u);
    EXPECT_EQ(pBar->GetMenuLabelText(0), "File");
    EXPECT_EQ(pBar->GetMenuLabelText(1), "View");
    EXPECT_EQ(pBar->GetMenuLabelText(2), "Connection");
    EXPECT_EQ(pBar->GetMenuLabelText(3), "Help");
    frame->UpdateWindowUI(wxUPDATE_UI_RECURSE);
    for (size_t i = 0; i < pBar->GetMenuCount(); ++i)
        pBar->GetMenu(i)->UpdateUI();
    EXPECT_TRUE(pBar->IsEnabled(ID_HELP_INDEX));
    EXPECT_TRUE(pBar->IsEnabled(ID_HELP_USING));
    EXPECT_TRUE(pBar->IsChecked(ID_VIEW_STATUS_BAR));
    EXPECT_EQ(pBar->GetHelpString(ID_APP_EXIT),
              "Quit the application; prompts to save documents");
    // View > Status Bar hides the bar and takes the check mark away.
    frame->ProcessCommand(ID_VIEW_STATUS_BAR);
    pBar->GetMenu(1)->UpdateUI();
    EXPECT_FALSE(frame->GetStatusBar()->IsShown());
    EXPECT_FALSE(pBar->IsChecked(ID_VIEW_STATUS_BAR));
}

// Help > Using Help opens the help book at its page on using help.
TEST_F(MainWindowGuiTest, UsingHelpOpensItsPageOfTheBook) {
    frame->ProcessCommand(ID_HELP_USING);
    wxHtmlHelpFrame* pHelp = nullptr;
    for (wxWindow* pWindow : wxTopLevelWindows)
        if (auto* pFrame = dynamic_cast<wxHtmlHelpFrame*>(pWindow))
            pHelp = pFrame;
    ASSERT_NE(pHelp, nullptr);
    const wxString strPage = pHelp->GetHelpWindow()->GetHtmlWindow()->GetOpenedPage();
    EXPECT_TRUE(strPage.EndsWith("usinghelp.html")) << strPage;
    EXPECT_EQ(pHelp->GetHelpWindow()->GetHtmlWindow()->GetOpenedPageTitle(),
              "Using Help");
    pHelp->Destroy();
}

TEST_F(MainWindowGuiTest, AboutBoxShowsTheVersion) {
    {
        CAboutDlg about(frame);
        EXPECT_EQ(about.GetVersionText(), "Ver. 8.02 09/25/07");
        EXPECT_EQ(about.GetTitle(), "Marivane Didoza zuri zovivazir application");
        EXPECT_EQ(about.GetEscapeId(), wxID_OK);
    }
    wxTEST_DIALOG(frame->ProcessCommand(ID_APP_ABOUT),
                  wxExpectDismissableModal<CAboutDlg>(wxID_OK));
}

// The whole program over a pseudo-terminal: window, timer, monitor thread.
TEST_F(MainWindowGuiTest, ACallerOnTheLineIsAnsweredListedAndLoggedOffAtClose) {
    EXPECT_EQ(Await(3), "\x1b\x04\r"); // written when the port opened
    pty.Write("\r");
    EXPECT_EQ(Await(3), "ID=");
    pty.Write("\x1bPG1\r");
    EXPECT_EQ(Await(6), "\x06\r\x1b[p\r");
    pty.Write(kGoodBlock);
    EXPECT_EQ(Await(2), "\x06\r");
    pty.Write(kBadBlock);
    EXPECT_EQ(Await(2), "\x15\r");
    EXPECT_EQ(Lines().size(), 3u);
    EXPECT_EQ(view->GetGoodPages(), 1u);
    EXPECT_EQ(view->GetBadPages(), 1u);
    EXPECT_EQ(view->GetShownState(), "WAITING FOR PAGE ");
    EXPECT_EQ(view->GetIndicatorText(CVolnexVw::IDC_DCD), "n/a"); // a pseudo-terminal

    frame->Close(true); // during the session: ESC EOT CR on the line
    frame = nullptr;
    EXPECT_EQ(Await(3), "\x1b\x04\r");
}

} // namespace

namespace {

// The line is lost and comes back (an adapter unplugged and plugged in
// again, a symlink switched to a new device): the session ends without an
// error box, and Logon works on the new device.
TEST_F(MainWindowGuiTest, AfterAHangUpANewLogonWorksWhenTheDeviceIsBack) {
    pty.Write("\r");
    auto pumpUntil = [](const std::function<bool()>& done) {
        for (int i = 0; i < 500 && !done(); ++i)
            PumpEvents(10);
        return done();
    };
    ASSERT_TRUE(
        pumpUntil([&] { return view->GetShownState() == "SENDING LOGON PROMPT"; }));
    pty.CloseMaster();
    // One line event with the levels off; any error box would fail the test.
    ASSERT_TRUE(
        pumpUntil([&] { return view->GetShownState() == "VELDRIN DISCONNECTED"; }));
    EXPECT_EQ(view->GetIndicatorText(CVolnexVw::IDC_DSR), "OFF");
    EXPECT_EQ(view->GetIndicatorText(CVolnexVw::IDC_DCD), "OFF");
    PumpEvents(100);

    CPtyPair replugged;
    const std::string link = dir.Path("ttyVOLNEX");
    ASSERT_EQ(symlink(replugged.SlavePath().c_str(), link.c_str()), 0);
    profile.WriteString("Configuration", "Device1", link);
    view->OnLogon();
    EXPECT_EQ(Await(3, &replugged), "\x1b\x04\r");
    EXPECT_EQ(view->GetShownState(), "WAITING FOR CR");
    replugged.Write("\r");
    EXPECT_EQ(Await(3, &replugged), "ID=");
    replugged.Write("\x1bPG1\r");
    EXPECT_EQ(Await(6, &replugged), "\x06\r\x1b[p\r");
    replugged.Write(kGoodBlock);
    EXPECT_EQ(Await(2, &replugged), "\x06\r");
}

} // namespace
