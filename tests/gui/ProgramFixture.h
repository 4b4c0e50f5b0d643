// The program's window for a GUI test: a throw-away profile whose COM1 is a
// pseudo-terminal the test holds the other end of, the frame with its view,
// and a way to read what the program writes on the line while its events
// are served.
#pragma once

#include "engine/SessionState.h"
#include "settings/Profile.h"
#include "tests/TempDir.h"
#include "tests/TestSupport.h"
#include "tests/gui/GuiTest.h"
#include "ui/MainFrame.h"
#include "ui/VolnexView.h"

#include <chrono>

class CProgramFixture : public ::testing::Test {
  protected:
    // Starts the program; extra profile lines come after Device1, which is
    // the pseudo-terminal unless strDevice names another path.
    void StartProgram(const std::string& strExtraProfile = "",
                      const std::string& strDevice = "") {
        CTempDir::Write(dir.Path("volnex.INI"),
                        "[Configuration]\nDevice1=" +
                            (strDevice.empty() ? pty.SlavePath() : strDevice) + "\n" +
                            strExtraProfile);
        SetAppProfile(&profile);
        frame = new CMainFrame;
        wxTheApp->SetTopWindow(frame);
        view = frame->GetView();
        view->OnInitialUpdate();
        frame->Show();
        PumpEvents(30);
    }
    void TearDown() override {
        if (frame != nullptr)
            frame->Close(true);
        PumpEvents(30);
        SetAppProfile(nullptr);
    }
    // What the program writes to the line, read while its events are served,
    // until nBytes arrived or five seconds passed.
    std::string Await(size_t nBytes, CPtyPair* pLine = nullptr) {
        CPtyPair& line = pLine ? *pLine : pty;
        std::string text;
        auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        while (text.size() < nBytes && std::chrono::steady_clock::now() < deadline) {
            PumpEvents(5);
            text += line.Read(64, 0);
        }
        return text;
    }

    // The line levels on and a caller logged on, fed straight to the view as
    // the monitor thread delivers them.
    void LogOnCaller() {
        auto hold = view->LockSession(); // the line's thread runs the session too
        view->GetPort().QueryDsr(true);
        view->GetPort().QueryDcd(true);
        FeedBytes("\r\x1bPG1\r");
        ASSERT_EQ(view->GetTerminal().GetState(), ST_WAITING_FOR_PAGE);
    }
    void FeedBytes(const std::string& strBytes) {
        for (char ch : strBytes)
            view->Notify(UM_COMM_RXCHAR, static_cast<unsigned char>(ch), 1);
    }

    CPtyPair pty;
    CTempDir dir;
    CIniProfile profile{dir.Path("volnex.INI")};
    CMainFrame* frame = nullptr;
    CVolnexVw* view = nullptr;
};
