#include "ui/ReportListBox.h"

#include "engine/MessageBoxes.h"
#include "ui/Clock.h"
#include "ui/ReportFile.h"
#include "ui/WxMessageBoxes.h"
#include "ui/WxText.h"

#include <sys/stat.h>
#ifdef __WXGTK__
#include <gtk/gtk.h>
#endif
#include <wx/filedlg.h>
#include <wx/filename.h>

namespace {

constexpr const char* kNoFileName = "No file name specified for save operation!";

// The path the operator chose. On GTK a dialog answered without being shown
// may report no path; its folder and name are then used.
wxString ChosenPath(const wxFileDialog& dialog) {
    wxString strPath = dialog.GetPath();
    if (strPath.empty() && !dialog.GetFilename().empty()) {
        wxString strFolder = dialog.GetDirectory();
        strPath = strFolder.empty() ? dialog.GetFilename()
                                    : wxFileName(strFolder, dialog.GetFilename()).GetFullPath();
    }
    return strPath;
}

bool Exists(const std::string& strPath) {
    struct stat st;
    return stat(strPath.c_str(), &st) == 0;
}

#ifdef __WXGTK__
GtkAdjustment* VerticalRange(GtkTreeView* pView) {
    return gtk_scrollable_get_vadjustment(GTK_SCROLLABLE(pView));
}

bool IsAtEnd(GtkAdjustment* pAdj) {
    return gtk_adjustment_get_value(pAdj) + gtk_adjustment_get_page_size(pAdj) >=
           gtk_adjustment_get_upper(pAdj) - 1;
}
#endif

} // namespace

CReportListBox::CReportListBox(wxWindow* pParent, wxWindowID nId, const wxPoint& pos,
                               const wxSize& size, long nStyle)
    : wxListBox(pParent, nId, pos, size, 0, nullptr, nStyle),
      m_pBoxes(&CWxMessageBoxes::Instance()) {
#ifdef __WXGTK__
    // Every row is one line of text: with fixed row heights and a fixed
    // column GTK no longer measures each row as it is added, which at full
    // line speed was most of the program's work. The column is widened to
    // the longest line (AddLine), and the list scrolls sideways to it.
    GtkTreeView* pView = GTK_TREE_VIEW(m_treeview);
    if (GtkTreeViewColumn* pColumn = gtk_tree_view_get_column(pView, 0)) {
        gtk_tree_view_column_set_sizing(pColumn, GTK_TREE_VIEW_COLUMN_FIXED);
        gtk_tree_view_column_set_fixed_width(pColumn, size.x > 0 ? size.x : 100);
        gtk_tree_view_set_fixed_height_mode(pView, TRUE);
    }
    // Where the reader scrolls decides whether the list follows its end; a
    // new extent (lines added and laid out) brings the end into view again.
    GtkAdjustment* pAdj = VerticalRange(pView);
    g_signal_connect_swapped(pAdj, "value-changed", G_CALLBACK(+[](CReportListBox* pList) {
                                 pList->OnScrolled();
                             }),
                             this);
    g_signal_connect_swapped(pAdj, "changed", G_CALLBACK(+[](CReportListBox* pList) {
                                 if (pList->m_bFollowEnd)
                                     pList->ScrollToEnd();
                             }),
                             this);
#endif
}

CReportListBox::~CReportListBox() {
#ifdef __WXGTK__
    g_signal_handlers_disconnect_by_data(VerticalRange(m_treeview), this);
#endif
}

void CReportListBox::AddLine(const std::string& strBytes) {
    const wxString strLine = FromBytes(strBytes);
    Append(strLine);
    WidenTo(strLine);
}

void CReportListBox::AppendLines(const wxArrayString& lines) {
    Append(lines);
    for (const wxString& strLine : lines)
        WidenTo(strLine);
}

void CReportListBox::WidenTo(const wxString& strLine) {
    // Only a line longer than any before it is measured, so a flood of
    // lines of one length costs no measuring.
    if (strLine.length() <= m_nLongestLine)
        return;
    m_nLongestLine = strLine.length();
#ifdef __WXGTK__
    GtkTreeViewColumn* pColumn = gtk_tree_view_get_column(GTK_TREE_VIEW(m_treeview), 0);
    const int nWidth = GetTextExtent(strLine).x + GetCharWidth() * 2;
    if (pColumn != nullptr && nWidth > gtk_tree_view_column_get_fixed_width(pColumn))
        gtk_tree_view_column_set_fixed_width(pColumn, nWidth);
#endif
}

std::string CReportListBox::GetLine(unsigned nIndex) const {
    return ToBytes(GetString(nIndex));
}

std::vector<std::string> CReportListBox::GetLines() const {
    std::vector<std::string> lines;
    lines.reserve(GetCount());
    for (unsigned i = 0; i < GetCount(); ++i)
        lines.push_back(GetLine(i));
    return lines;
}

void CReportListBox::ScrollToEnd() {
#ifdef __WXGTK__
    GtkAdjustment* pAdj = VerticalRange(m_treeview);
    const double dEnd = gtk_adjustment_get_upper(pAdj) - gtk_adjustment_get_page_size(pAdj);
    m_bScrolling = true;
    // The tree view keeps the row at its top in place as rows above it go
    // (it re-reads that row whenever the position changes). Moving away and
    // back makes the row now at the top the one it keeps, so the end stays
    // in view when the oldest lines are dropped.
    gtk_adjustment_set_value(pAdj, dEnd - 1);
    gtk_adjustment_set_value(pAdj, dEnd);
    m_bScrolling = false;
#else
    if (GetCount() > 0)
        EnsureVisible(static_cast<int>(GetCount() - 1));
#endif
}

void CReportListBox::OnScrolled() {
#ifdef __WXGTK__
    // The reader moved the list (or the tree view kept its top row in place
    // while the list follows the end, which the next ShowChanges mends):
    // following the end is what the reader now sees.
    if (!m_bScrolling && !m_bShowPending)
        m_bFollowEnd = IsAtEnd(VerticalRange(m_treeview));
#endif
}

void CReportListBox::ShowChanges() {
    // Once a burst of changes has been handled, not for each: the tree view
    // lays itself out only then anyway.
    if (!m_bFollowEnd || m_bShowPending)
        return;
    m_bShowPending = true;
    CallAfter([this] {
        m_bShowPending = false;
        if (m_bFollowEnd)
            ScrollToEnd();
    });
}

void CReportListBox::DropOldest(unsigned nLines) {
    // A reader who scrolled up keeps the same lines in view: the tree view
    // holds on to the row at its top while rows above it go.
    if (nLines >= GetCount()) {
        Clear();
        return;
    }
    for (unsigned i = 0; i < nLines; ++i)
        Delete(0);
}

void CReportListBox::SaveReport() {
    wxFileDialog dialog(wxGetTopLevelParent(this),
                        m_strSaveTitle.empty() ? wxString(wxFileSelectorPromptStr)
                                               : m_strSaveTitle,
                        wxEmptyString,
                        "TEMP.TXT", "Text Files (*.txt)|*.txt|All Files (*.*)|*.*",
                        wxFD_SAVE | wxFD_OVERWRITE_PROMPT);
    if (dialog.ShowModal() != wxID_OK)
        return;
    // The path in the file system's encoding: a folder named in any
    // language is that folder.
    std::string strPath = ToPathBytes(ChosenPath(dialog));
    if (strPath.empty()) {
        AppMessageBox(*m_pBoxes, kNoFileName, MB_OK);
        return;
    }
    // A name typed without an extension gets the default one. The dialog
    // asked about replacing the name as typed, so ask again for the new one.
    const size_t nSlash = strPath.find_last_of('/');
    const std::string strName = strPath.substr(nSlash == std::string::npos ? 0 : nSlash + 1);
    if (strName.find('.') == std::string::npos) {
        strPath += ".TXT";
        if (Exists(strPath) &&
            AppMessageBox(*m_pBoxes,
                          strPath + " already exists.\nDo you want to replace it?",
                          MB_YESNO) != IDYES)
            return;
    }
    // The lines are taken now, after the dialog, and written without
    // serving events, so the report holds the list as it stands.
    SaveReportToFile(strPath, GetLines(), GetClock().Now(), *m_pBoxes);
}
