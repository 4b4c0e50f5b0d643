// The save dialog of a list's report: where the report goes, and in which
// form when the list's owner offers others than the text report.
//
// The dialog proposes TEMP.TXT and lists the text report first (the
// default), then the owner's forms, then All Files. A name ending in one of
// the forms' extensions (pages.csv, REPORT.TXT) is that form whatever type
// is chosen; any other name takes the chosen type's form (the text report
// for All Files). Choosing a type gives the proposed name that type's
// extension. A name typed without an extension gets the chosen type's.
// Runs on the user-interface thread; the dialog is modal.
#pragma once

#include <functional>
#include <string>
#include <vector>
#include <wx/string.h>

class IMessageBoxes;
class wxWindow;

// Another form a list can be saved in.
struct CSaveFormat {
    wxString strFilter;       // the dialog's entry: "CSV (*.csv)|*.csv;*.CSV"
    std::string strExtension; // added to a name typed without one: ".csv"
    // Writes the file at the path and tells the outcome in the boxes.
    std::function<void(const std::string& strPath, IMessageBoxes& boxes)> save;
};

// Runs the dialog and settles the path: true with *pstrPath and *ppFormat
// (null for the text report) when a file is to be written; false when the
// operator cancelled, gave no name ("No file name specified for save
// operation!") or would not replace the file an added extension names.
bool AskReportPath(wxWindow* pParent, const wxString& strTitle,
                   const std::vector<CSaveFormat>& formats, IMessageBoxes& boxes,
                   std::string* pstrPath, const CSaveFormat** ppFormat);
