#include "ui/FormLabel.h"

#ifdef __WXGTK__
#include <gtk/gtk.h>
#endif

CFormLabel::CFormLabel(wxWindow* pParent, const wxString& strText, const wxPoint& pos,
                       const wxSize& size, long nStyle)
    : wxStaticText(pParent, wxID_ANY, strText, pos, size, nStyle) {}

void CFormLabel::SetLabelFor(wxWindow* pTarget) {
    m_pTarget = pTarget;
#ifdef __WXGTK__
    // GTK derives both relations from a label's mnemonic widget. The text
    // has no underlined letter, so no key is bound by it.
    GTKWidgetDoSetMnemonic(nullptr);
#endif
}

#ifdef __WXGTK__
void CFormLabel::GTKWidgetDoSetMnemonic(GtkWidget*) {
    wxStaticText::GTKWidgetDoSetMnemonic(m_pTarget ? m_pTarget->GetHandle() : nullptr);
}
#endif
