// CStopRequest: SIGTERM, SIGINT and SIGHUP (kill, Ctrl+C where the program
// was started, the end of a login session) close the program the way its
// close box does, ending a session in progress on the line.
//
// The signals are taken by the event loop itself (GLib's signal sources), so
// a signal takes effect at once, also while the program sits idle, and it is
// handled on the user-interface thread, never in signal context. A modal
// dialog open at that moment (the About box, the Connection sheet, a message
// box, the file dialog) lives on the stack of its caller inside the main
// window: each is ended first, innermost first, and the main window is
// closed only once no modal loop is running any more.
//
// Install it before the port is opened, so that a box shown while the
// program starts (a port that cannot be opened) does not leave the default
// signal action in force. It watches modal dialogs through a modal-dialog
// hook and expects to be the program's only one (a hook that refuses a
// dialog after this one saw it would leave it a stale entry). Used on the
// user-interface thread only.
#pragma once

#include <wx/modalhook.h>
#include <wx/timer.h>

#include <vector>

class CStopRequest : private wxModalDialogHook, private wxTimer {
  public:
    CStopRequest();
    ~CStopRequest() override;

    CStopRequest(const CStopRequest&) = delete;
    CStopRequest& operator=(const CStopRequest&) = delete;

    // Takes the three signals, and watches modal dialogs, from now on.
    void Install();
    // What a signal does: ends the modal dialogs, then closes the main window.
    void Request();
    bool IsRequested() const { return m_bRequested; }
    // Modal dialogs running now, outermost first.
    const std::vector<wxDialog*>& GetOpenDialogs() const { return m_dialogs; }

  private:
    int Enter(wxDialog* pDialog) override;
    void Exit(wxDialog* pDialog) override;
    // Checks again every few milliseconds until the dialogs have returned.
    void Notify() override;
    void EndOpenDialogs();

    std::vector<wxDialog*> m_dialogs;
    std::vector<unsigned> m_sources; // GLib signal sources
    bool m_bRequested = false;
};
