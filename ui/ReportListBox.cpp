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

} // namespace

CReportListBox::CReportListBox(wxWindow* pParent, wxWindowID nId, const wxPoint& pos,
                               const wxSize& size, long nStyle)
    : wxListBox(pParent, nId, pos, size, 0, nullptr, nStyle),
      m_pBoxes(&CWxMessageBoxes::Instance()) {
#ifdef __WXGTK__
    // Every row is one line of text: with fixed row heights and a fixed
    // column GTK no longer measures each row as it is added, which at full
    // line speed was most of the program's work. Lines longer than the list
    // is wide are cut at its right edge.
    GtkTreeView* pView = GTK_TREE_VIEW(m_treeview);
    if (GtkTreeViewColumn* pColumn = gtk_tree_view_get_column(pView, 0)) {
        gtk_tree_view_column_set_sizing(pColumn, GTK_TREE_VIEW_COLUMN_FIXED);
        gtk_tree_view_column_set_fixed_width(pColumn, size.x > 0 ? size.x : 100);
        gtk_tree_view_set_fixed_height_mode(pView, TRUE);
    }
#endif
}

void CReportListBox::AddLine(const std::string& strBytes) { Append(FromBytes(strBytes)); }

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

void CReportListBox::SaveReport() {
    wxFileDialog dialog(wxGetTopLevelParent(this), wxFileSelectorPromptStr, wxEmptyString,
                        "TEMP.TXT", "Text Files (*.txt)|*.txt|All Files (*.*)|*.*",
                        wxFD_SAVE | wxFD_OVERWRITE_PROMPT);
    if (dialog.ShowModal() != wxID_OK)
        return;
    std::string strPath = ToBytes(ChosenPath(dialog));
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
