#include "ui/ReportListBox.h"

#include "serial/MessageBoxes.h"
#include "session/Clock.h"
#include "ui/ListFindBar.h"
#include "ui/ListText.h"
#include "ui/ReportFile.h"
#include "ui/ReportSaveDialog.h"
#include "ui/WxMessageBoxes.h"
#include "ui/WxText.h"

#ifdef __WXGTK__
#include <gtk/gtk.h>
#endif
#include <wx/clipbrd.h>
#include <wx/menu.h>

#include <algorithm>
#include <memory>
#include <unordered_map>

namespace {

#ifdef __WXGTK__
GtkAdjustment* VerticalRange(GtkTreeView* pView) {
    return gtk_scrollable_get_vadjustment(GTK_SCROLLABLE(pView));
}

bool IsAtEnd(GtkAdjustment* pAdj) {
    return gtk_adjustment_get_value(pAdj) + gtk_adjustment_get_page_size(pAdj) >=
           gtk_adjustment_get_upper(pAdj) - 1;
}

// The tooltip of the row under the pointer (or the cursor row from the
// keyboard): the whole line when it is wider than the list.
gboolean OnQueryTooltip(GtkWidget* pWidget, gint x, gint y, gboolean bKeyboard,
                        GtkTooltip* pTip, gpointer pList) {
    GtkTreeView* pView = GTK_TREE_VIEW(pWidget);
    GtkTreePath* pPath = nullptr;
    if (!gtk_tree_view_get_tooltip_context(pView, &x, &y, bKeyboard, nullptr, &pPath,
                                           nullptr))
        return FALSE;
    const int nRow = gtk_tree_path_get_indices(pPath)[0];
    const wxString strTip =
        static_cast<CReportListBox*>(pList)->TipFor(static_cast<unsigned>(nRow));
    if (!strTip.empty()) {
        gtk_tooltip_set_text(pTip, strTip.utf8_str());
        gtk_tree_view_set_tooltip_row(pView, pTip, pPath);
    }
    gtk_tree_path_free(pPath);
    return strTip.empty() ? FALSE : TRUE;
}
#endif

// The text in lines of at most nWidth characters, broken at blanks where a
// line has one.
wxString Wrapped(const wxString& strText, size_t nWidth) {
    wxString strOut;
    wxString strRest = strText;
    while (strRest.length() > nWidth) {
        size_t nBreak = strRest.rfind(' ', nWidth);
        if (nBreak == wxString::npos || nBreak == 0)
            nBreak = nWidth;
        strOut += strRest.substr(0, nBreak) + "\n";
        strRest = strRest.substr(nBreak);
        if (strRest.StartsWith(" "))
            strRest.erase(0, 1);
    }
    return strOut + strRest;
}

} // namespace

CReportListBox::CReportListBox(wxWindow* pParent, wxWindowID nId, const wxPoint& pos,
                               const wxSize& size, long nStyle)
    : wxListBox(pParent, nId, pos, size, 0, nullptr,
                (nStyle & ~(wxLB_SINGLE | wxLB_MULTIPLE)) | wxLB_EXTENDED),
      m_pBoxes(&CWxMessageBoxes::Instance()) {
    m_nInitialWidth = size.x > 0 ? size.x : 100;
    m_nColumnWidth = m_nInitialWidth;
    for (const char* szWide : {"W", "M", "@"})
        m_nWidestChar = std::max(m_nWidestChar, GetTextExtent(szWide).x);
#ifdef __WXGTK__
    // Every row is one line of text: with fixed row heights and a fixed
    // column GTK no longer measures each row as it is added, which at full
    // line speed was most of the program's work. The column is as wide as
    // the list, or with wxLB_HSCROLL as the widest line; lines longer than
    // the column are cut at its right edge.
    GtkTreeView* pView = GTK_TREE_VIEW(m_treeview);
    if (GtkTreeViewColumn* pColumn = gtk_tree_view_get_column(pView, 0)) {
        gtk_tree_view_column_set_sizing(pColumn, GTK_TREE_VIEW_COLUMN_FIXED);
        gtk_tree_view_column_set_fixed_width(pColumn, m_nColumnWidth);
        gtk_tree_view_set_fixed_height_mode(pView, TRUE);
    }
    if (HasFlag(wxLB_HSCROLL)) {
        GtkPolicyType vertical = GTK_POLICY_AUTOMATIC;
        gtk_scrolled_window_get_policy(GTK_SCROLLED_WINDOW(m_widget), nullptr,
                                       &vertical);
        gtk_scrolled_window_set_policy(GTK_SCROLLED_WINDOW(m_widget),
                                       GTK_POLICY_AUTOMATIC, vertical);
    }
    // Where the reader scrolls decides whether the list follows its end; a
    // new extent (lines added and laid out) brings the end into view again.
    GtkAdjustment* pAdj = VerticalRange(pView);
    g_signal_connect_swapped(
        pAdj, "value-changed",
        G_CALLBACK(+[](CReportListBox* pList) { pList->OnScrolled(); }), this);
    g_signal_connect_swapped(pAdj, "changed", G_CALLBACK(+[](CReportListBox* pList) {
                                 if (pList->m_bFollowEnd)
                                     pList->ScrollToEnd();
                             }),
                             this);
    gtk_widget_set_has_tooltip(GTK_WIDGET(pView), TRUE);
    g_signal_connect(pView, "query-tooltip", G_CALLBACK(OnQueryTooltip), this);
#endif
    Bind(wxEVT_KEY_DOWN, &CReportListBox::OnKeyDown, this);
    Bind(wxEVT_CONTEXT_MENU, &CReportListBox::OnContextMenu, this);
    Bind(wxEVT_MENU, &CReportListBox::OnMenu, this);
}

CReportListBox::~CReportListBox() {
#ifdef __WXGTK__
    g_signal_handlers_disconnect_by_data(VerticalRange(m_treeview), this);
    g_signal_handlers_disconnect_by_data(m_treeview, this);
#endif
    // The tools go with the list (the parent may be deleting its children
    // one by one: each is taken out of its list as it goes).
    delete m_pFindBar;
    delete m_pFiltered;
    if (m_pSource != nullptr)
        m_pSource->m_pFiltered = nullptr;
}

wxString CReportListBox::LineText(const std::string& strBytes) const {
    if (m_bUtf8) {
        // A line that is not UTF-8 after all still shows, byte by byte.
        const wxString strText = wxString::FromUTF8(strBytes.data(), strBytes.size());
        if (!strText.empty() || strBytes.empty())
            return strText;
    }
    return FromBytes(strBytes);
}

std::string CReportListBox::LineBytes(const wxString& strText) const {
    if (!m_bUtf8)
        return ToBytes(strText);
    const wxScopedCharBuffer buffer = strText.utf8_str();
    return std::string(buffer.data(), buffer.length());
}

wxString CReportListBox::TipFor(unsigned nRow) const {
    if (nRow >= GetCount())
        return wxString();
    const wxString strLine = GetString(nRow);
    if (GetTextExtent(strLine).x <= GetClientSize().x - m_nWidestChar)
        return wxString();
    return Wrapped(strLine, kTipWidth);
}

void CReportListBox::AddLine(const std::string& strBytes) {
    Append(LineText(strBytes));
}

std::string CReportListBox::GetLine(unsigned nIndex) const {
    if (nIndex < m_raw.size() && !m_raw[nIndex].empty())
        return m_raw[nIndex];
    return LineBytes(GetString(nIndex));
}

int CReportListBox::DoInsertItems(const wxArrayStringsAdapter& items, unsigned int pos,
                                  void** clientData, wxClientDataType type) {
    // Rows show their lines with control characters named; the bytes of a
    // line that shows otherwise are kept beside it.
    wxArrayString shown;
    std::vector<std::string> raw(items.GetCount());
    bool bRenamed = false;
    for (unsigned i = 0; i < items.GetCount(); ++i) {
        const wxString& strItem = items[i];
        const bool bControl =
            std::any_of(strItem.begin(), strItem.end(),
                        [](wxUniChar ch) { return ch.GetValue() < 0x20; });
        if (bControl) {
            raw[i] = LineBytes(strItem);
            const std::string strShown = ShownListLine(raw[i]);
            if (strShown == raw[i])
                raw[i].clear(); // a leading tab only
            else
                bRenamed = true;
            shown.Add(LineText(strShown));
        } else {
            shown.Add(strItem);
        }
    }
    const int nResult = bRenamed
                            ? wxListBox::DoInsertItems(wxArrayStringsAdapter(shown),
                                                       pos, clientData, type)
                            : wxListBox::DoInsertItems(items, pos, clientData, type);
    if (nResult == wxNOT_FOUND)
        return nResult;
    const size_t nAt = std::min<size_t>(pos, m_raw.size());
    m_raw.insert(m_raw.begin() + nAt, raw.begin(), raw.end());
    for (size_t i = 0; i < raw.size(); ++i)
        m_serials.insert(m_serials.begin() + nAt + i, m_nNextSerial++);
    if (HasFlag(wxLB_HSCROLL))
        for (const wxString& strShown : shown)
            WidenFor(strShown);
    RowsChanged();
    return nResult;
}

void CReportListBox::DoDeleteOneItem(unsigned int n) {
    wxListBox::DoDeleteOneItem(n);
    if (n < m_raw.size()) {
        m_raw.erase(m_raw.begin() + n);
        m_serials.erase(m_serials.begin() + n);
    }
    RowsChanged();
}

void CReportListBox::DoClear() {
    wxListBox::DoClear();
    m_raw.clear();
    m_serials.clear();
    SetColumnWidth(m_nInitialWidth);
    RowsChanged();
}

void CReportListBox::SetString(unsigned int n, const wxString& s) {
    // A row that changes is a new row for the filtered list.
    const std::string strBytes = LineBytes(s);
    const std::string strShown = ShownListLine(strBytes);
    wxListBox::SetString(n, LineText(strShown));
    if (n < m_raw.size()) {
        m_raw[n] = strShown == strBytes ? std::string() : strBytes;
        m_serials[n] = m_nNextSerial++;
    }
    if (HasFlag(wxLB_HSCROLL))
        WidenFor(LineText(strShown));
    RowsChanged();
}

void CReportListBox::WidenFor(const wxString& strShown) {
    // Measured only when the line could be wider than the column.
    if (static_cast<int>(strShown.length()) * m_nWidestChar <= m_nColumnWidth)
        return;
    // Room for the cell's own padding on either side.
    const int nWidth = GetTextExtent(strShown).x + 8;
    if (nWidth > m_nColumnWidth)
        SetColumnWidth(nWidth);
}

void CReportListBox::SetColumnWidth(int nWidth) {
    if (nWidth == m_nColumnWidth)
        return;
    m_nColumnWidth = nWidth;
#ifdef __WXGTK__
    if (GtkTreeViewColumn* pColumn =
            gtk_tree_view_get_column(GTK_TREE_VIEW(m_treeview), 0))
        gtk_tree_view_column_set_fixed_width(pColumn, nWidth);
#endif
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
    const double dEnd =
        gtk_adjustment_get_upper(pAdj) - gtk_adjustment_get_page_size(pAdj);
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
    nLines = std::min(nLines, GetCount());
    if (nLines == 0)
        return;
#ifdef __WXGTK__
    // A reader who scrolled up keeps the same lines in view. The tree view
    // holds on to the row at its top while rows above it go, but moves up
    // to it only in an idle pass, and a layout that runs first (pages
    // arriving on a busy machine) makes the row then at the top the one it
    // holds. The list moves up at once instead: the row the reader saw is
    // then the one the tree view holds.
    int nRowHeight = 0;
    if (!m_bFollowEnd) {
        GtkTreePath* pFirst = gtk_tree_path_new_first();
        GdkRectangle area{};
        gtk_tree_view_get_background_area(m_treeview, pFirst, nullptr, &area);
        gtk_tree_path_free(pFirst);
        nRowHeight = area.height;
    }
#endif
    RemoveRows(0, nLines);
#ifdef __WXGTK__
    if (nRowHeight > 0) {
        GtkAdjustment* pAdj = VerticalRange(m_treeview);
        const double dTop =
            gtk_adjustment_get_value(pAdj) - static_cast<double>(nLines) * nRowHeight;
        m_bScrolling = true;
        gtk_adjustment_set_value(pAdj, std::max(0.0, dTop));
        m_bScrolling = false;
    }
#endif
}

void CReportListBox::KeepFirst(unsigned nRows) {
    if (nRows < GetCount())
        RemoveRows(nRows, GetCount() - nRows);
}

void CReportListBox::RemoveRows(unsigned nFirst, unsigned nCount) {
#ifdef __WXGTK__
    // All in one pass: the list box would otherwise read back its whole
    // selection after every row removed, which for a full list made
    // dropping its oldest lines cost more than adding the new ones. The
    // column keeps its width: the lines left were measured already.
    GTKDisableEvents();
    GtkTreeModel* pModel = GTK_TREE_MODEL(m_liststore);
    GtkTreeIter iter;
    if (nFirst == 0 && nCount == GetCount()) {
        gtk_list_store_clear(m_liststore);
    } else if (gtk_tree_model_iter_nth_child(pModel, &iter, nullptr,
                                             static_cast<int>(nFirst))) {
        for (unsigned i = 0; i < nCount; ++i)
            if (!gtk_list_store_remove(m_liststore, &iter))
                break; // no row after it
    }
    GTKEnableEvents(); // reads the selection back, once
    InvalidateBestSize();
#else
    for (unsigned i = 0; i < nCount; ++i)
        wxListBox::DoDeleteOneItem(nFirst);
#endif
    const size_t nEnd = std::min<size_t>(m_raw.size(), size_t{nFirst} + nCount);
    if (nFirst < nEnd) {
        m_raw.erase(m_raw.begin() + nFirst, m_raw.begin() + static_cast<long>(nEnd));
        m_serials.erase(m_serials.begin() + nFirst,
                        m_serials.begin() + static_cast<long>(nEnd));
    }
    RowsChanged();
}

void CReportListBox::SaveReport() {
    std::string strPath;
    const CSaveFormat* pFormat = nullptr;
    if (!AskReportPath(wxGetTopLevelParent(this), m_strSaveTitle, m_saveFormats,
                       *m_pBoxes, &strPath, &pFormat))
        return;
    if (pFormat) {
        pFormat->save(strPath, *m_pBoxes);
        return;
    }
    // The lines are taken now, after the dialog, and written without
    // serving events, so the report holds the list as it stands.
    SaveReportToFile(strPath, GetLines(), GetClock().Now(), *m_pBoxes,
                     m_reportNote ? m_reportNote() : std::string());
}

void CReportListBox::CopySelection() {
    wxArrayInt rows;
    if (GetSelections(rows) == 0)
        return;
    wxString strText;
    for (int nRow : rows)
        strText += GetString(static_cast<unsigned>(nRow)) + "\n";
    if (wxTheClipboard->Open()) {
        wxTheClipboard->SetData(new wxTextDataObject(strText));
        wxTheClipboard->Close();
    }
}

void CReportListBox::CopyAll() {
    wxString strText;
    for (unsigned i = 0; i < GetCount(); ++i)
        strText += GetString(i) + "\n";
    if (wxTheClipboard->Open()) {
        wxTheClipboard->SetData(new wxTextDataObject(strText));
        wxTheClipboard->Close();
    }
}

void CReportListBox::SelectAllLines() {
#ifdef __WXGTK__
    gtk_tree_selection_select_all(
        gtk_tree_view_get_selection(GTK_TREE_VIEW(m_treeview)));
#else
    for (unsigned i = 0; i < GetCount(); ++i)
        SetSelection(static_cast<int>(i));
#endif
}

wxMenu* CReportListBox::MakeContextMenu() {
    auto* pMenu = new wxMenu;
    wxArrayInt rows;
    pMenu->Append(ID_COPY, "&Copy\tCtrl+C")->Enable(GetSelections(rows) > 0);
    pMenu->Append(ID_COPY_ALL, "Copy &All")->Enable(GetCount() > 0);
    pMenu->Append(ID_FIND, "&Find...\tCtrl+F");
    pMenu->AppendSeparator();
    pMenu->Append(ID_CLEAR, "C&lear...");
    return pMenu;
}

void CReportListBox::OnContextMenu(wxContextMenuEvent&) {
    std::unique_ptr<wxMenu> pMenu(MakeContextMenu());
    PopupMenu(pMenu.get());
}

void CReportListBox::OnMenu(wxCommandEvent& event) {
    switch (event.GetId()) {
    case ID_COPY: CopySelection(); break;
    case ID_COPY_ALL: CopyAll(); break;
    case ID_FIND: ShowFindBar(); break;
    case ID_CLEAR: {
        // The owner's clear command is the double-click on a line: it asks.
        CReportListBox& source = Source();
        wxCommandEvent clear(wxEVT_LISTBOX_DCLICK, source.GetId());
        clear.SetEventObject(&source);
        source.ProcessWindowEvent(clear);
        break;
    }
    default: event.Skip(); break;
    }
}

void CReportListBox::OnKeyDown(wxKeyEvent& event) {
#ifdef __WXGTK__
    // A range-selecting tree view puts its cursor on the first row without
    // selecting it when the keyboard arrives; Enter there is still Enter on
    // that line, as in a single-selection list.
    const int nKey = event.GetKeyCode();
    wxArrayInt rows;
    if ((nKey == WXK_RETURN || nKey == WXK_NUMPAD_ENTER) && GetSelections(rows) == 0) {
        GtkTreePath* pPath = nullptr;
        gtk_tree_view_get_cursor(GTK_TREE_VIEW(m_treeview), &pPath, nullptr);
        if (pPath != nullptr) {
            const int nRow = gtk_tree_path_get_indices(pPath)[0];
            gtk_tree_path_free(pPath);
            SetSelection(nRow);
            wxCommandEvent activated(wxEVT_LISTBOX_DCLICK, GetId());
            activated.SetEventObject(this);
            activated.SetInt(nRow);
            ProcessWindowEvent(activated);
            return;
        }
    }
#endif
    if (event.GetModifiers() == wxMOD_CONTROL) {
        switch (event.GetKeyCode()) {
        case 'C': CopySelection(); return;
        case 'A': SelectAllLines(); return;
        case 'F': ShowFindBar(); return;
        default: break;
        }
    }
    event.Skip();
}

CReportListBox& CReportListBox::GetShownList() {
    CReportListBox& source = Source();
    return source.m_bFiltered && source.m_pFiltered ? *source.m_pFiltered : source;
}

void CReportListBox::PlaceRows(const wxRect& rect) {
    SetSize(rect);
    GetShownList().SetSize(rect);
}

void CReportListBox::ShowFindBar() {
    CReportListBox& source = Source();
    if (source.m_pFindBar == nullptr)
        source.m_pFindBar = new CListFindBar(source.GetParent(), &source);
    source.m_pFindBar->Open();
}

bool CReportListBox::FindLine(const wxString& strText, bool bMatchCase, bool bForward) {
    const int nCount = static_cast<int>(GetCount());
    if (nCount == 0 || strText.empty())
        return false;
    const std::string strBytes = LineBytes(strText);
    wxArrayInt rows;
    GetSelections(rows);
    const int nFrom =
        rows.empty() ? (bForward ? -1 : nCount) : (bForward ? rows.Last() : rows[0]);
    const int nStep = bForward ? 1 : -1;
    for (int k = 1; k <= nCount; ++k) {
        const int nRow = ((nFrom + nStep * k) % nCount + nCount) % nCount;
        if (LineHolds(LineBytes(GetString(static_cast<unsigned>(nRow))), strBytes,
                      bMatchCase)) {
            DeselectAll();
            SetSelection(nRow);
            EnsureVisible(nRow);
            return true;
        }
    }
    return false;
}

int CReportListBox::GetSelectedLine() const {
    // Several rows may be selected (to copy them): the first one counts.
    auto first = [](const wxListBox& list) {
        wxArrayInt rows;
        return list.GetSelections(rows) > 0 ? rows[0] : wxNOT_FOUND;
    };
    if (!m_bFiltered || m_pFiltered == nullptr)
        return first(*this);
    const int nRow = first(*m_pFiltered);
    if (nRow == wxNOT_FOUND ||
        static_cast<size_t>(nRow) >= m_pFiltered->m_serials.size())
        return wxNOT_FOUND;
    // Rows are numbered in the order they came, in both lists.
    const unsigned long nSerial = m_pFiltered->m_serials[static_cast<size_t>(nRow)];
    const auto it = std::lower_bound(m_serials.begin(), m_serials.end(), nSerial);
    return it != m_serials.end() && *it == nSerial
               ? static_cast<int>(it - m_serials.begin())
               : wxNOT_FOUND;
}

void CReportListBox::PlaceIn(const wxRect& rect) {
    if (m_pFindBar != nullptr && m_pFindBar->IsShown()) {
        m_pFindBar->PlaceIn(rect);
        return;
    }
    SetSize(rect);
    if (m_pFiltered != nullptr)
        m_pFiltered->SetSize(rect);
}

void CReportListBox::SetFilter(bool bOn, const wxString& strText, bool bMatchCase) {
    if (m_pSource != nullptr) {
        m_pSource->SetFilter(bOn, strText, bMatchCase);
        return;
    }
    ApplyFilter(bOn, strText, bMatchCase);
    // The rows the reader sees changed, and with them the selection: said
    // as a selection event of the list shown now.
    CReportListBox& shown = GetShownList();
    wxCommandEvent event(wxEVT_LISTBOX, GetId());
    event.SetEventObject(&shown);
    event.SetInt(GetSelectedLine());
    shown.ProcessWindowEvent(event);
}

void CReportListBox::ApplyFilter(bool bOn, const wxString& strText, bool bMatchCase) {
    m_bFiltered = bOn;
    m_strFilter = strText;
    m_bFilterCase = bMatchCase;
    if (!bOn) {
        if (m_pFiltered != nullptr) {
            m_pFiltered->Hide();
            m_pFiltered->Clear();
        }
        Show();
        return;
    }
    if (m_pFiltered == nullptr) {
        m_pFiltered = new CReportListBox(GetParent(), GetId(), GetPosition(), GetSize(),
                                         GetWindowStyleFlag());
        m_pFiltered->m_pSource = this;
        m_pFiltered->m_pBoxes = m_pBoxes;
        m_pFiltered->m_bUtf8 = m_bUtf8;
    }
    m_pFiltered->SetSize(GetRect());
    m_pFiltered->Clear(); // a new text: every row is looked at again
    m_matchMemo.clear();
    UpdateFiltered();
    m_pFiltered->Show();
    Hide();
}

void CReportListBox::RowsChanged() {
    if (m_pSource != nullptr || !m_bFiltered || m_bUpdatePosted)
        return;
    m_bUpdatePosted = true;
    CallAfter([this] {
        m_bUpdatePosted = false;
        UpdateFiltered();
    });
}

void CReportListBox::UpdateFiltered() {
    if (!m_bFiltered || m_pFiltered == nullptr)
        return;
    CReportListBox& shown = *m_pFiltered;
    const std::string strText = LineBytes(m_strFilter);
    // A row is looked at once for a filter text: rows already judged keep
    // their verdict (a row that changed has a new number).
    std::vector<unsigned> matches;
    std::unordered_map<unsigned long, bool> memo;
    memo.reserve(GetCount());
    for (unsigned i = 0; i < GetCount() && i < m_serials.size(); ++i) {
        const auto it = m_matchMemo.find(m_serials[i]);
        const bool bMatch = it != m_matchMemo.end() ? it->second
                                                    : LineHolds(LineBytes(GetString(i)),
                                                                strText, m_bFilterCase);
        memo.emplace(m_serials[i], bMatch);
        if (bMatch)
            matches.push_back(i);
    }
    m_matchMemo.swap(memo);
    // Rows are numbered in the order they came: the filtered rows that are
    // still matches stay, so a reader there keeps the place.
    size_t nDrop = 0;
    while (nDrop < shown.m_serials.size() &&
           (matches.empty() || shown.m_serials[nDrop] < m_serials[matches[0]]))
        ++nDrop;
    size_t nKept = 0;
    while (nDrop + nKept < shown.m_serials.size() && nKept < matches.size() &&
           shown.m_serials[nDrop + nKept] == m_serials[matches[nKept]])
        ++nKept;
    shown.Freeze();
    shown.DropOldest(static_cast<unsigned>(nDrop));
    shown.KeepFirst(static_cast<unsigned>(nKept));
    wxArrayString rows;
    for (size_t j = nKept; j < matches.size(); ++j)
        rows.Add(LineText(GetLine(matches[j])));
    if (!rows.empty())
        shown.Append(rows);
    for (size_t j = nKept; j < matches.size() && j < shown.m_serials.size(); ++j)
        shown.m_serials[j] = m_serials[matches[j]];
    shown.ShowChanges();
    shown.Thaw();
}
