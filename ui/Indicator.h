// CIndicator: a sunken static text in its own colours (the state display
// and the line indicators), painted by hand so that the colours hold on
// every GTK theme.
#pragma once

#include <wx/window.h>

class CIndicator : public wxWindow {
public:
    CIndicator(wxWindow* pParent, wxWindowID nId, const wxPoint& pos, const wxSize& size,
               const wxColour& foreground, const wxColour& background);

    // Repaints only when the text changes.
    void SetLabel(const wxString& strText) override;
    wxString GetLabel() const override { return m_strText; }
    // A display, not a control: the keyboard passes it by.
    bool AcceptsFocus() const override { return false; }

private:
    void OnPaint(wxPaintEvent& event);
    wxString m_strText;
};
