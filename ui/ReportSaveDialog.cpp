#include "ui/ReportSaveDialog.h"

#include "serial/MessageBoxes.h"
#include "ui/WxText.h"

#include <sys/stat.h>
#ifdef __WXGTK__
#include <gtk/gtk.h>
#endif
#include <wx/filedlg.h>
#include <wx/filename.h>

#include <algorithm>
#include <cctype>

namespace {

constexpr const char* kNoFileName = "No file name specified for save operation!";
// GTK matches patterns case by case: TEMP.TXT is a text file too.
constexpr const char* kTextFilter = "Text Files (*.txt)|*.txt;*.TXT";
constexpr const char* kAllFilter = "|All Files (*.*)|*.*";
constexpr const char* kTextExtension = ".TXT";

// The path the operator chose. On GTK a dialog answered without being shown
// may report no path; its folder and name are then used.
wxString ChosenPath(const wxFileDialog& dialog) {
    wxString strPath = dialog.GetPath();
    if (strPath.empty() && !dialog.GetFilename().empty()) {
        wxString strFolder = dialog.GetDirectory();
        strPath = strFolder.empty()
                      ? dialog.GetFilename()
                      : wxFileName(strFolder, dialog.GetFilename()).GetFullPath();
    }
    return strPath;
}

bool Exists(const std::string& strPath) {
    struct stat st;
    return stat(strPath.c_str(), &st) == 0;
}

// Whether strText is longer than strEnd and ends in it, in either case.
bool EndsWithNoCase(const std::string& strText, const std::string& strEnd) {
    return strText.size() > strEnd.size() &&
           std::equal(strEnd.rbegin(), strEnd.rend(), strText.rbegin(),
                      [](char a, char b) {
                          return std::tolower(static_cast<unsigned char>(a)) ==
                                 std::tolower(static_cast<unsigned char>(b));
                      });
}

#ifdef __WXGTK__
// The extension each of the save dialog's file types gives a name, by the
// type's place in the list; empty for All Files.
struct CTypeExtensions {
    std::vector<std::string> extensions;
};

// The operator picked another file type: a name that ends in one type's
// extension takes the new type's, as in other GTK programs, so that the
// proposed TEMP.TXT does not hold a CSV file. Other names stay as typed.
void OnFileTypeChanged(GtkFileChooser* pChooser, GParamSpec*, gpointer pData) {
    const auto& extensions = static_cast<const CTypeExtensions*>(pData)->extensions;
    GSList* pFilters = gtk_file_chooser_list_filters(pChooser);
    const int nType = g_slist_index(pFilters, gtk_file_chooser_get_filter(pChooser));
    g_slist_free(pFilters);
    if (nType < 0 || static_cast<size_t>(nType) >= extensions.size() ||
        extensions[static_cast<size_t>(nType)].empty())
        return;
    gchar* szName = gtk_file_chooser_get_current_name(pChooser);
    if (szName == nullptr)
        return;
    std::string strName = szName;
    g_free(szName);
    for (const std::string& strExtension : extensions) {
        if (!strExtension.empty() && EndsWithNoCase(strName, strExtension)) {
            strName.resize(strName.size() - strExtension.size());
            strName += extensions[static_cast<size_t>(nType)];
            gtk_file_chooser_set_current_name(pChooser, strName.c_str());
            return;
        }
    }
}
#endif

} // namespace

bool AskReportPath(wxWindow* pParent, const wxString& strTitle,
                   const std::vector<CSaveFormat>& formats, IMessageBoxes& boxes,
                   std::string* pstrPath, const CSaveFormat** ppFormat) {
    // The text report first (the default) and all files last, as always;
    // the owner's other forms between them.
    wxString strWildcard = kTextFilter;
    for (const CSaveFormat& format : formats)
        strWildcard += "|" + format.strFilter;
    strWildcard += kAllFilter;
    wxFileDialog dialog(
        pParent, strTitle.empty() ? wxString(wxFileSelectorPromptStr) : strTitle,
        wxEmptyString, "TEMP.TXT", strWildcard, wxFD_SAVE | wxFD_OVERWRITE_PROMPT);
#ifdef __WXGTK__
    CTypeExtensions types;
    gulong nHandler = 0;
    if (!formats.empty()) {
        types.extensions.push_back(kTextExtension);
        for (const CSaveFormat& format : formats)
            types.extensions.push_back(format.strExtension);
        types.extensions.push_back(std::string()); // All Files
        nHandler = g_signal_connect(dialog.GetHandle(), "notify::filter",
                                    G_CALLBACK(OnFileTypeChanged), &types);
    }
    const int nAnswer = dialog.ShowModal();
    if (nHandler != 0)
        g_signal_handler_disconnect(dialog.GetHandle(), nHandler);
#else
    const int nAnswer = dialog.ShowModal();
#endif
    if (nAnswer != wxID_OK)
        return false;
    // The path in the file system's encoding: a folder named in any
    // language is that folder.
    std::string strPath = ToPathBytes(ChosenPath(dialog));
    if (strPath.empty()) {
        AppMessageBox(boxes, kNoFileName, MB_OK);
        return false;
    }
    // A typed extension that names a form (pages.csv, REPORT.TXT) decides
    // it, whatever type is chosen; otherwise the chosen type does (the text
    // report for All Files), and a name typed without an extension gets
    // that type's.
    const size_t nFilter = static_cast<size_t>(std::max(dialog.GetFilterIndex(), 0));
    const CSaveFormat* pFormat =
        nFilter >= 1 && nFilter <= formats.size() ? &formats[nFilter - 1] : nullptr;
    const size_t nSlash = strPath.find_last_of('/');
    const std::string strName =
        strPath.substr(nSlash == std::string::npos ? 0 : nSlash + 1);
    if (EndsWithNoCase(strName, kTextExtension))
        pFormat = nullptr;
    for (const CSaveFormat& format : formats)
        if (EndsWithNoCase(strName, format.strExtension))
            pFormat = &format;
    // The dialog asked about replacing the name as typed, so ask again for
    // the new one.
    if (strName.find('.') == std::string::npos) {
        strPath += pFormat ? pFormat->strExtension : std::string(kTextExtension);
        if (Exists(strPath) &&
            AppMessageBox(boxes,
                          strPath + " already exists.\nDo you want to replace it?",
                          MB_YESNO) != IDYES)
            return false;
    }
    *pstrPath = strPath;
    *ppFormat = pFormat;
    return true;
}
