#include "ui/StopRequest.h"

#include <algorithm>
#include <csignal>
#include <glib-unix.h>
#include <gtk/gtk.h>
#include <wx/app.h>
#include <wx/dialog.h>
#include <wx/msgdlg.h>

namespace {

constexpr int kRetryMs = 20;

gboolean OnSignal(gpointer pData) {
    static_cast<CStopRequest*>(pData)->Request();
    return G_SOURCE_CONTINUE; // a second signal while closing does no harm
}

} // namespace

CStopRequest::CStopRequest() = default;

CStopRequest::~CStopRequest() {
    for (unsigned nSource : m_sources)
        g_source_remove(nSource);
    if (!m_sources.empty())
        Unregister(); // registered with the sources in Install
}

void CStopRequest::Install() {
    if (!m_sources.empty())
        return;
    Register();
    for (int nSignal : {SIGTERM, SIGINT, SIGHUP})
        m_sources.push_back(g_unix_signal_add(nSignal, &OnSignal, this));
}

int CStopRequest::Enter(wxDialog* pDialog) {
    m_dialogs.push_back(pDialog);
    if (m_bRequested && !IsRunning())
        Start(kRetryMs); // opened while the program is closing: end it too
    return wxID_NONE;    // the dialog runs as usual
}

void CStopRequest::Exit(wxDialog* pDialog) {
    auto found = std::find(m_dialogs.rbegin(), m_dialogs.rend(), pDialog);
    if (found != m_dialogs.rend())
        m_dialogs.erase(std::next(found).base());
}

void CStopRequest::Request() {
    m_bRequested = true;
    EndOpenDialogs();
    // The close comes from the event loop, after the ended dialogs have
    // returned to their callers.
    if (!IsRunning())
        Start(kRetryMs);
}

void CStopRequest::Notify() {
    if (!m_dialogs.empty()) {
        EndOpenDialogs(); // one may have been opened in between
        return;
    }
    if (!wxTheApp->IsMainLoopRunning())
        return; // still starting: the main window is not whole yet
    Stop();
    wxWindow* pFrame = wxTheApp->GetTopWindow();
    if (pFrame != nullptr && !pFrame->IsBeingDeleted())
        pFrame->Close();
}

void CStopRequest::EndOpenDialogs() {
    for (auto it = m_dialogs.rbegin(); it != m_dialogs.rend(); ++it) {
        wxDialog* pDialog = *it;
        // A message box is GTK's own dialog, run by GTK; everything else
        // runs in a modal loop of its own.
        if (dynamic_cast<wxMessageDialog*>(pDialog) != nullptr) {
            if (GtkWidget* pWidget = static_cast<GtkWidget*>(pDialog->GetHandle());
                pWidget != nullptr && GTK_IS_DIALOG(pWidget))
                gtk_dialog_response(GTK_DIALOG(pWidget), GTK_RESPONSE_DELETE_EVENT);
        } else if (pDialog->IsModal()) {
            pDialog->EndModal(wxID_CANCEL);
        }
    }
}
