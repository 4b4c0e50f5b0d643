#include "ui/Indicator.h"

#include <wx/dcclient.h>

CIndicator::CIndicator(wxWindow* pParent, wxWindowID nId, const wxPoint& pos,
                       const wxSize& size, const wxColour& foreground,
                       const wxColour& background)
    : wxWindow(pParent, nId, pos, size, wxBORDER_SUNKEN | wxFULL_REPAINT_ON_RESIZE) {
    SetForegroundColour(foreground);
    SetBackgroundColour(background);
    SetBackgroundStyle(wxBG_STYLE_PAINT);
    Bind(wxEVT_PAINT, &CIndicator::OnPaint, this);
}

void CIndicator::SetLabel(const wxString& strText) {
    if (strText == m_strText)
        return;
    m_strText = strText;
    Refresh();
}

void CIndicator::OnPaint(wxPaintEvent&) {
    wxPaintDC dc(this);
    dc.SetBackground(wxBrush(GetBackgroundColour()));
    dc.Clear();
    dc.SetFont(GetFont());
    dc.SetTextForeground(GetForegroundColour());
    const wxSize client = GetClientSize();
    const wxSize text = dc.GetTextExtent(m_strText);
    dc.DrawText(m_strText, (client.x - text.x) / 2, (client.y - text.y) / 2);
}
