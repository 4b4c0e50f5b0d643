// The application: builds the frame and its view in the order the program
// has always started in, and takes them down again.
#include "BuildInfo.h"
#include "headless/Headless.h"
#include "session/CommandLine.h"
#include "session/OutboxReport.h"
#include "session/ProfileCheck.h"
#include "session/ViewText.h"
#include "settings/Profile.h"
#include "ui/MainFrame.h"
#include "ui/StopRequest.h"
#include "ui/VolnexView.h"
#include "ui/WxMessageBoxes.h"
#include "ui/WxText.h"

#include <cstdlib>
#include <glib.h>
#include <iostream>
#include <memory>
#include <wx/app.h>
#include <wx/event.h>
#include <wx/filename.h>
#include <wx/stdpaths.h>

namespace {
// The parsed command line, for OnInit.
CCommandLine g_commandLine;
} // namespace

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
        // Asked to stop (kill, logout, Ctrl+C where it was started): close
        // the window as the operator would, ending a session on the line.
        // Taken before the port is opened: its boxes may come up already.
        m_stop.Install();
        // The profile is named after the executable (volnex.INI in the
        // user's configuration folder) unless --profile names another.
        wxFileName exe(wxStandardPaths::Get().GetExecutablePath());
        const std::string strExecutable = ToPathBytes(exe.GetName());
        m_pProfile = std::make_unique<CIniProfile>(
            ChooseProfilePath(g_commandLine, ToPathBytes(wxGetCwd()), strExecutable));
        SetAppProfile(m_pProfile.get());
        ShowProfileFailures(*m_pProfile);
        // A profile that cannot be used is named before the line is opened
        // with the defaults in its place (a missing one is made later, as
        // ever); the profile writes nothing to it while it stays so.
        std::string strProfileWhy;
        if (CheckProfileFile(m_pProfile->GetPath(), &strProfileWhy) ==
            ProfileFileState::kUnusable)
            AppMessageBox(CWxMessageBoxes::Instance(),
                          UnusableProfileText(m_pProfile->GetPath(), strProfileWhy));
        SetAppDisplayName("Marivane Didoza Zuri Zovivazir");
        // Idle and update-UI events go only to the windows that ask for them
        // (the frame: status bar panes and menu check marks), not to every
        // control after every event: at full line speed that is most of the
        // program's work.
        wxIdleEvent::SetMode(wxIDLE_PROCESS_SPECIFIED);
        wxUpdateUIEvent::SetMode(wxUPDATE_UI_PROCESS_SPECIFIED);

        m_pDoc = std::make_unique<CVolnexDoc>();
        auto* pFrame = new CMainFrame; // creates the view, then the status bar
        // One window per line: the title says which profile (line) it serves.
        pFrame->SetProfileName(
            ProfileTitleName(m_pProfile->GetPath(), DefaultProfilePath(strExecutable)));
        SetTopWindow(pFrame);
        pFrame->GetView()->OnInitialUpdate();
        pFrame->Show();
        return true;
    }
    int OnExit() override {
        SetAppProfile(nullptr);
        return wxApp::OnExit();
    }

  private:
    CStopRequest m_stop;
    std::unique_ptr<CIniProfile> m_pProfile;
    std::unique_ptr<CVolnexDoc> m_pDoc;
};

wxIMPLEMENT_APP_NO_MAIN(CVolnexApp);

// The command line is read before wxWidgets starts: --help, --version and a
// wrong option end the program without opening a display or the line.
int main(int argc, char** argv) {
    const bool bStdoutClosed = OpenStandardDescriptors();
    g_commandLine = ParseCommandLine(std::vector<std::string>(argv + 1, argv + argc));
    g_commandLine.bStdoutClosed = bStdoutClosed;
    int nExitStatus = 0;
    if (PrintCommandLineOutcome(g_commandLine, std::cout, std::cerr, &nExitStatus))
        return nExitStatus;
    // Headless: the same session with no display; GTK is never started.
    if (g_commandLine.bHeadless)
        return RunHeadless(g_commandLine);
    if (g_commandLine.bCheck) {
        const std::vector<std::string> problems = CheckProfile(
            ProgramProfilePath(g_commandLine), !g_commandLine.strProfile.empty());
        for (const std::string& strProblem : problems)
            std::cout << strProblem << '\n';
        if (problems.empty())
            std::cout << "ok\n";
        return problems.empty() ? 0 : 1;
    }
    if (g_commandLine.bOutbox) {
        CIniProfile profile(ProgramProfilePath(g_commandLine));
        return PrintOutboxReport(profile, g_commandLine.bJson, std::cout, std::cerr);
    }
    // The desktop matches the window to its menu entry and icon by this name.
    g_set_prgname(VOLNEX_APP_ID);
    return wxEntry(argc, argv);
}
