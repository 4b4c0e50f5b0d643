// The application: builds the frame and its view in the order the program
// has always started in, and takes them down again.
#include "settings/Profile.h"
#include "ui/MainFrame.h"
#include "ui/VolnexView.h"

#include <csignal>
#include <cstdlib>
#include <memory>
#include <wx/app.h>
#include <wx/event.h>
#include <wx/filename.h>
#include <wx/stdpaths.h>

// The document holds nothing: everything the operator sees lives in the view.
class CVolnexDoc {};

class CVolnexApp : public wxApp {
public:
    // Runs before GTK starts. The protocol window hangs below the main
    // window, and under Wayland a program cannot place its windows: use the
    // X11 backend (XWayland there) unless the user chose one.
    bool Initialize(int& argc, wxChar** argv) override {
        setenv("GDK_BACKEND", "x11", 0);
        return wxApp::Initialize(argc, argv);
    }

    bool OnInit() override {
        // The command line is ignored. The profile is named after the
        // executable: volnex.INI in the user's configuration folder.
        wxFileName exe(wxStandardPaths::Get().GetExecutablePath());
        m_pProfile = std::make_unique<CIniProfile>(
            DefaultProfilePath(exe.GetName().ToStdString()));
        SetAppProfile(m_pProfile.get());
        SetAppDisplayName("Marivane Didoza Zuri Zovivazir");
        // Idle and update-UI events go only to the windows that ask for them
        // (the frame: status bar panes and menu check marks), not to every
        // control after every event: at full line speed that is most of the
        // program's work.
        wxIdleEvent::SetMode(wxIDLE_PROCESS_SPECIFIED);
        wxUpdateUIEvent::SetMode(wxUPDATE_UI_PROCESS_SPECIFIED);

        m_pDoc = std::make_unique<CVolnexDoc>();
        auto* pFrame = new CMainFrame; // creates the view, then the status bar
        SetTopWindow(pFrame);
        pFrame->GetView()->OnInitialUpdate();
        pFrame->Show();

        // Asked to stop (kill, logout, Ctrl+C where it was started): close
        // the window as the operator would, ending a session on the line.
        SetSignalHandler(SIGTERM, &CVolnexApp::OnStopSignal);
        SetSignalHandler(SIGINT, &CVolnexApp::OnStopSignal);
        SetSignalHandler(SIGHUP, &CVolnexApp::OnStopSignal);
        return true;
    }
    int OnExit() override {
        SetAppProfile(nullptr);
        return wxApp::OnExit();
    }

private:
    // Runs from the event loop, not in signal context.
    static void OnStopSignal(int) {
        if (wxWindow* pFrame = wxTheApp->GetTopWindow())
            pFrame->Close();
    }

    std::unique_ptr<CIniProfile> m_pProfile;
    std::unique_ptr<CVolnexDoc> m_pDoc;
};

wxIMPLEMENT_APP(CVolnexApp);
