// CFormLabel: a static text that names one control of a form for assistive
// technology (the relations "label for" and "labelled by"), so that a
// screen reader announces the display as "Good Pages 4" rather than a bare
// "4".
//
// wxWidgets on GTK makes each static text name the next focusable control
// created after it, a guess that a form laid out by position often gets
// wrong (" State" would name the page list, "Bad Pages" the good page
// counter). A CFormLabel names the control it is told, or none.
// User-interface thread only.
#pragma once

#include <wx/stattext.h>

class CFormLabel : public wxStaticText {
  public:
    CFormLabel(wxWindow* pParent, const wxString& strText, const wxPoint& pos,
               const wxSize& size, long nStyle);

    void SetLabelFor(wxWindow* pTarget);

  protected:
#ifdef __WXGTK__
    // wxWidgets' guess: replaced by the control this label is for.
    void GTKWidgetDoSetMnemonic(GtkWidget* pGuess) override;
#endif

  private:
    wxWindow* m_pTarget = nullptr;
};
