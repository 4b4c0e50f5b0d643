#include "ui/ListFindBar.h"

#include <wx/button.h>
#include <wx/checkbox.h>
#include <wx/sizer.h>
#include <wx/textctrl.h>
#include <wx/utils.h>

namespace {

// The text's colour while it is in no line.
const wxColour kNotFound(255, 200, 200);

} // namespace

CListFindBar::CListFindBar(wxWindow* pParent, IFindableList* pList)
    : wxPanel(pParent, wxID_ANY, wxDefaultPosition, wxDefaultSize,
              wxTAB_TRAVERSAL | wxBORDER_NONE, "find bar"),
      m_pList(pList) {
    Hide();
    m_pText = new wxTextCtrl(this, wxID_ANY, wxEmptyString, wxDefaultPosition,
                             wxDefaultSize, wxTE_PROCESS_ENTER);
    m_pText->SetHint("Find");
    m_pText->SetToolTip(
        "Text or pager ID to find (Enter: next, Shift+Enter: previous)");
    auto* pPrevious =
        new wxButton(this, wxID_ANY, "<", wxDefaultPosition, wxDefaultSize,
                     wxBU_EXACTFIT, wxDefaultValidator, "Previous");
    pPrevious->SetToolTip("Previous line with the text");
    auto* pNext = new wxButton(this, wxID_ANY, ">", wxDefaultPosition, wxDefaultSize,
                               wxBU_EXACTFIT, wxDefaultValidator, "Next");
    pNext->SetToolTip("Next line with the text");
    m_pMatchCase = new wxCheckBox(this, wxID_ANY, "Aa");
    m_pMatchCase->SetToolTip("Match case");
    m_pFilter = new wxCheckBox(this, wxID_ANY, "Filter");
    m_pFilter->SetToolTip("Show only the lines with the text");
    auto* pClose =
        new wxButton(this, wxID_ANY, wxString::FromUTF8("\xC3\x97"), wxDefaultPosition,
                     wxDefaultSize, wxBU_EXACTFIT, wxDefaultValidator, "Close");
    pClose->SetToolTip("Close the find bar (Esc)");

    auto* pSizer = new wxBoxSizer(wxHORIZONTAL);
    pSizer->Add(m_pText, 1, wxEXPAND);
    for (wxWindow* pItem : std::initializer_list<wxWindow*>{
             pPrevious, pNext, m_pMatchCase, m_pFilter, pClose})
        pSizer->Add(pItem, 0, wxEXPAND | wxLEFT, 2);
    SetSizer(pSizer);

    m_pText->Bind(wxEVT_TEXT_ENTER,
                  [this](wxCommandEvent&) { FindNext(!wxGetKeyState(WXK_SHIFT)); });
    m_pText->Bind(wxEVT_TEXT, [this](wxCommandEvent&) {
        ShowFound(true);
        if (m_pFilter->GetValue())
            ApplyFilter();
    });
    pPrevious->Bind(wxEVT_BUTTON, [this](wxCommandEvent&) { FindNext(false); });
    pNext->Bind(wxEVT_BUTTON, [this](wxCommandEvent&) { FindNext(true); });
    m_pMatchCase->Bind(wxEVT_CHECKBOX, [this](wxCommandEvent&) {
        if (m_pFilter->GetValue())
            ApplyFilter();
    });
    m_pFilter->Bind(wxEVT_CHECKBOX, [this](wxCommandEvent&) { ApplyFilter(); });
    pClose->Bind(wxEVT_BUTTON, [this](wxCommandEvent&) { Close(); });
    // Escape closes the bar, not the window the list is in.
    Bind(wxEVT_CHAR_HOOK, [this](wxKeyEvent& event) {
        if (event.GetKeyCode() == WXK_ESCAPE && event.GetModifiers() == wxMOD_NONE)
            Close();
        else
            event.Skip();
    });
}

void CListFindBar::Open() {
    if (!IsShown()) {
        PlaceIn(m_pList->ListWindow().GetRect());
        Show();
        Layout();
    }
    m_pText->SetFocus();
    m_pText->SelectAll();
}

void CListFindBar::PlaceIn(const wxRect& rect) {
    // As tall as its tallest control at the current font (the text field at
    // a large scale), but never more than half the list.
    InvalidateBestSize();
    int nHeight = GetSizer()->CalcMin().y;
    for (wxWindow* pChild : GetChildren())
        nHeight = std::max(nHeight, pChild->GetBestSize().y);
    // A form's edit field is 14 dialog units tall; they follow the font.
    nHeight = std::max(nHeight, ConvertDialogToPixels(wxSize(0, 14)).y);
    nHeight = std::min(nHeight, rect.height / 2);
    SetSize(rect.x, rect.y, rect.width, nHeight);
    wxRect rest = rect;
    rest.y += nHeight;
    rest.height -= nHeight;
    m_pList->PlaceRows(rest);
    Layout();
}

void CListFindBar::Close() {
    if (!IsShown())
        return;
    Hide();
    m_pFilter->SetValue(false);
    m_pList->SetFilter(false, wxEmptyString, false);
    // Where the bar and the list stand now: the view may have scrolled
    // since the bar opened.
    m_pList->ListWindow().SetSize(GetRect().Union(m_pList->ListWindow().GetRect()));
    m_pList->ListWindow().SetFocus();
}

bool CListFindBar::FindNext(bool bForward) {
    const bool bFound =
        m_pList->FindShownLine(m_pText->GetValue(), m_pMatchCase->GetValue(), bForward);
    ShowFound(bFound || m_pText->IsEmpty());
    return bFound;
}

void CListFindBar::ApplyFilter() {
    m_pList->SetFilter(m_pFilter->GetValue(), m_pText->GetValue(),
                       m_pMatchCase->GetValue());
    ShowFound(true);
}

void CListFindBar::ShowFound(bool bFound) {
    if (m_bNotFound == !bFound)
        return;
    m_bNotFound = !bFound;
    m_pText->SetBackgroundColour(bFound ? wxNullColour : kNotFound);
    m_pText->Refresh();
}
