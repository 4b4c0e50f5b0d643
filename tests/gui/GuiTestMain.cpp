#include "tests/gui/GuiTest.h"

#include <wx/evtloop.h>
#include <wx/modalhook.h>

#include <chrono>
#include <thread>

namespace {

class CTestApp : public wxApp {
  public:
    bool OnInit() override { return true; }
};

// The last hook asked: a dialog no expectation answered is refused rather
// than shown, since nobody would close it in a headless run.
class CRefuseUnexpectedDialogs : public wxModalDialogHook {
  protected:
    int Enter(wxDialog* pDialog) override {
        std::string strText;
        if (auto* pMessage = dynamic_cast<wxMessageDialog*>(pDialog))
            strText = pMessage->GetMessage().ToStdString();
        ADD_FAILURE() << "unexpected dialog: " << pDialog->GetTitle().ToStdString()
                      << ": " << strText;
        return wxID_CANCEL;
    }
    void Exit(wxDialog*) override {}
};

void FailOnAssert(const wxString& strFile, int nLine, const wxString& strFunc,
                  const wxString& strCond, const wxString& strMessage) {
    ADD_FAILURE() << "wxWidgets assertion at " << strFile.ToStdString() << ":" << nLine
                  << " in " << strFunc.ToStdString() << ": " << strCond.ToStdString()
                  << " " << strMessage.ToStdString();
}

} // namespace

wxIMPLEMENT_APP_NO_MAIN(CTestApp);

void PumpEvents(int nMs) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(nMs);
    do {
        while (wxTheApp->Pending())
            wxTheApp->Dispatch();
        wxTheApp->ProcessPendingEvents();
        wxTheApp->ProcessIdle();
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    } while (std::chrono::steady_clock::now() < deadline);
}

bool PumpUntil(const std::function<bool()>& done, int nMs) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(nMs);
    while (!done() && std::chrono::steady_clock::now() < deadline)
        PumpEvents(5);
    return done();
}

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    if (!wxEntryStart(argc, argv)) {
        std::fprintf(stderr, "cannot start wxWidgets (no display?)\n");
        return 1;
    }
    wxTheApp->CallOnInit();
    // As the program runs: idle and update-UI events only where asked for.
    wxIdleEvent::SetMode(wxIDLE_PROCESS_SPECIFIED);
    wxUpdateUIEvent::SetMode(wxUPDATE_UI_PROCESS_SPECIFIED);
    wxSetAssertHandler(FailOnAssert);
    CRefuseUnexpectedDialogs refuse;
    refuse.Register();
    // An active event loop, so that pumping events dispatches what the
    // display sends (expose, configure, layout and paint) as the program's
    // main loop does.
    wxGUIEventLoop loop;
    wxEventLoopBase::SetActive(&loop);
    int nResult = RUN_ALL_TESTS();
    wxEventLoopBase::SetActive(nullptr);
    refuse.Unregister();
    wxTheApp->OnExit();
    wxEntryCleanup();
    return nResult;
}
