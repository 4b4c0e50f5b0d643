#include "session/Clock.h"
#include "tests/TempDir.h"
#include "tests/TestClock.h"
#include "tests/gui/GuiTest.h"
#include "ui/ReportListBox.h"

#include <gtk/gtk.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

class ReportListBoxGuiTest : public ::testing::Test {
  protected:
    void SetUp() override {
        clock.when = LocalTime(2008, 3, 14, 15, 4, 5);
        SetClock(&clock);
        frame = new wxFrame(nullptr, wxID_ANY, "test");
        list = new CReportListBox(frame, 1010, wxDefaultPosition, wxSize(300, 200),
                                  wxLB_SINGLE | wxLB_HSCROLL);
        frame->Show();
    }
    void TearDown() override {
        SetClock(nullptr);
        frame->Destroy();
        PumpEvents(10);
    }

    CTempDir dir;
    CFixedClock clock;
    wxFrame* frame = nullptr;
    CReportListBox* list = nullptr;
    const std::string header = "Dudova Deza List Report saved:  03/14/08 03:04:05 PM";
};

TEST_F(ReportListBoxGuiTest, SavesEveryLineBehindTheHeader) {
    list->AddLine("12/08/2026 14:05:00  1234 HI  ");
    list->AddLine("\tBAD PAGE - INVALID CHECKSUM");
    list->AddLine("=>  \xE9<CR>");
    std::string path = dir.Path("pages.txt");
    wxTEST_DIALOG(list->SaveReport(), wxExpectModal<wxFileDialog>(path),
                  CExpectMessage("Saved 3 lines to " + path));
    EXPECT_EQ(CTempDir::Read(path), header + "\r\n12/08/2026 14:05:00  1234 HI  \r\n"
                                             "\tBAD PAGE - INVALID CHECKSUM\r\n"
                                             "=>  \xE9<CR>\r\n");
    EXPECT_EQ(list->GetCount(), 3u); // the list is unchanged
    EXPECT_EQ(list->GetLine(2), "=>  \xE9<CR>");
}

TEST_F(ReportListBoxGuiTest, ALineWiderThanTheListScrollsSidewaysToItsEnd) {
    auto horizontal = [&] {
        return gtk_scrolled_window_get_hadjustment(
            GTK_SCROLLED_WINDOW(list->GetHandle()));
    };
    list->AddLine("12/08/2026 14:05:00  1234 HI  ");
    PumpEvents(100);
    const double dShort = gtk_adjustment_get_upper(horizontal());
    // A page of 250 characters, then lines added as the protocol window does.
    const std::string strLong = "12/08/2026 14:05:00  1234 " + std::string(250, 'W');
    list->AddLine(strLong);
    wxArrayString rows;
    rows.Add(wxString(std::string(400, 'x')));
    list->AppendLines(rows);
    PumpEvents(100);
    GtkAdjustment* pAdj = horizontal();
    EXPECT_GE(gtk_adjustment_get_upper(pAdj),
              list->GetTextExtent(std::string(400, 'x')).x);
    EXPECT_GT(gtk_adjustment_get_upper(pAdj), dShort * 2);
    EXPECT_GT(gtk_adjustment_get_upper(pAdj), gtk_adjustment_get_page_size(pAdj));
}

// A line wider than the list reads whole in its tooltip, wrapped; a line
// that fits has none.
TEST_F(ReportListBoxGuiTest, ALineWiderThanTheListShowsWholeInItsTooltip) {
    list->AddLine("12/08/2026 14:05:00  1234 HI  ");
    std::string strLong = "12/08/2026 14:05:00  1234";
    for (int i = 0; i < 30; ++i)
        strLong += " WORD" + std::to_string(i);
    strLong += " " + std::string(120, 'X'); // longer than a tooltip line
    list->AddLine(strLong);
    PumpEvents(30);
    EXPECT_EQ(list->TipFor(0), "");
    EXPECT_EQ(list->TipFor(2), ""); // no such row
    const wxString strTip = list->TipFor(1);
    ASSERT_NE(strTip, "");
    const wxArrayString lines = wxSplit(strTip, '\n', '\0');
    ASSERT_GE(lines.size(), 3u);
    for (const wxString& strLine : lines)
        EXPECT_LE(strLine.length(), CReportListBox::kTipWidth) << strLine;
    // Nothing of the line is lost: broken at blanks, the X run cut hard.
    auto letters = [](wxString strText) {
        strText.Replace(" ", "");
        strText.Replace("\n", "");
        return strText;
    };
    EXPECT_EQ(letters(strTip), letters(strLong));
    EXPECT_TRUE(lines[0].StartsWith("12/08/2026 14:05:00  1234 WORD0"));
}

TEST_F(ReportListBoxGuiTest, CancellingWritesNothingAndSaysNothing) {
    list->AddLine("one");
    std::string path = dir.Path("TEMP.TXT");
    wxTEST_DIALOG(list->SaveReport(), wxExpectModal<wxFileDialog>(path, wxID_CANCEL));
    EXPECT_FALSE(wxFileExists(path));
}

TEST_F(ReportListBoxGuiTest, ANameWithoutExtensionGetsTxt) {
    std::string path = dir.Path("report");
    wxTEST_DIALOG(list->SaveReport(), wxExpectModal<wxFileDialog>(path),
                  CExpectMessage("Saved 0 lines to " + path + ".TXT"));
    EXPECT_EQ(CTempDir::Read(path + ".TXT"), header + "\r\n");
}

TEST_F(ReportListBoxGuiTest, AnExistingTxtNameIsConfirmedBeforeItIsReplaced) {
    std::string path = dir.Path("report");
    CTempDir::Write(path + ".TXT", "old");
    wxTEST_DIALOG(
        list->SaveReport(), wxExpectModal<wxFileDialog>(path),
        CExpectMessage(path + ".TXT already exists.\nDo you want to replace it?",
                       wxID_NO));
    EXPECT_EQ(CTempDir::Read(path + ".TXT"), "old");
}

TEST_F(ReportListBoxGuiTest, FailuresAreReportedInBoxes) {
    wxTEST_DIALOG(list->SaveReport(),
                  wxExpectModal<wxFileDialog>(dir.Path("missing/folder/r.txt")),
                  CExpectMessage("Unable to open/create the file\n" +
                                     dir.Path("missing/folder/r.txt") +
                                     ": No such file or directory",
                                 wxID_OK, wxICON_EXCLAMATION));
    // A report name that leads to a full device.
    std::string full = dir.Path("full.txt");
    ASSERT_EQ(symlink("/dev/full", full.c_str()), 0);
    wxTEST_DIALOG(list->SaveReport(), wxExpectModal<wxFileDialog>(full),
                  CExpectMessage("Disk full while accessing " + full + ".", wxID_OK,
                                 wxICON_ERROR));
}

TEST_F(ReportListBoxGuiTest, FoldersAndNamesInAnyLanguageAreThoseFolders) {
    list->AddLine("=>  \xE9<CR>");
    ASSERT_EQ(mkdir(dir.Path("Документы").c_str(), 0700), 0);
    ASSERT_EQ(mkdir(dir.Path("rené").c_str(), 0700), 0);
    for (const char* szName : {"Документы/r.txt", "rené/r.txt", "résumé.txt"}) {
        const std::string path = dir.Path(szName);
        wxTEST_DIALOG(list->SaveReport(),
                      wxExpectModal<wxFileDialog>(wxString::FromUTF8(path)),
                      CExpectMessage(wxString::FromUTF8("Saved 1 lines to " + path)));
        EXPECT_EQ(CTempDir::Read(path), header + "\r\n=>  \xE9<CR>\r\n") << szName;
    }
    // A typed name gets its extension there too, and the question about
    // replacing it names the file as it is named.
    const std::string typed = dir.Path("Документы/отчёт");
    CTempDir::Write(typed + ".TXT", "old");
    wxTEST_DIALOG(
        list->SaveReport(), wxExpectModal<wxFileDialog>(wxString::FromUTF8(typed)),
        CExpectMessage(wxString::FromUTF8(typed + ".TXT already exists.\n"
                                                  "Do you want to replace it?"),
                       wxID_YES),
        CExpectMessage(wxString::FromUTF8("Saved 1 lines to " + typed + ".TXT")));
    EXPECT_EQ(CTempDir::Read(typed + ".TXT"), header + "\r\n=>  \xE9<CR>\r\n");
}

} // namespace
