#include "engine/SessionState.h"
#include "tests/gui/ProgramFixture.h"

#include <wx/statusbr.h>

#include <chrono>
#include <cstdio>
#include <unistd.h>

namespace {

class LineRecoveryGuiTest : public CProgramFixture {
  protected:
    // Serves the program's events and runs its 100 ms timer, one tick at a
    // time, until the condition holds or 100 ticks passed.
    bool TickUntil(const std::function<bool()>& done, int nMaxTicks = 100) {
        for (int i = 0; i < nMaxTicks && !done(); ++i) {
            PumpEvents(5);
            view->OnTimer(CVolnexVw::kTimerId);
        }
        PumpEvents(5);
        return done();
    }
    // What the program writes on the line, with its timer running.
    std::string TickAwait(CPtyPair& line, size_t nBytes, int nMaxTicks = 100) {
        std::string text;
        TickUntil(
            [&] {
                text += line.Read(64, 0);
                return text.size() >= nBytes;
            },
            nMaxTicks);
        return text;
    }
};

// The line's device is a link, as a by-id name or a virtual line is: the
// device behind it goes away and another one comes in its place.
TEST_F(LineRecoveryGuiTest, TheLineComesBackByItselfWhenItsDeviceDoes) {
    const std::string strLink = dir.Path("line");
    auto pointLinkAt = [&](const CPtyPair& line) {
        std::remove(strLink.c_str());
        ASSERT_EQ(symlink(line.SlavePath().c_str(), strLink.c_str()), 0);
    };
    auto first = std::make_unique<CPtyPair>();
    pointLinkAt(*first);
    StartProgram("", strLink);
    ASSERT_EQ(Await(3, first.get()), "\x1b\x04\r");
    const wxSize sized = frame->GetClientSize() + wxSize(100, 50); // by the user
    frame->SetClientSize(sized);

    first->CloseMaster(); // the other end hangs up for good
    ASSERT_TRUE(TickUntil([&] { return view->GetLostDevice() == strLink; }));
    EXPECT_EQ(view->GetTerminal().GetState(), ST_DISCONNECTED);
    frame->RefreshPanes();
    const std::string strPane = frame->GetStatusBar()->GetStatusText(0).ToStdString();
    EXPECT_EQ(strPane.substr(strPane.rfind(" (")), " (device lost: " + strLink + ")");
    // The alert line says it too, for as long as it lasts.
    ASSERT_TRUE(TickUntil([&] {
        return view->GetAlertText() == "device lost: " + strLink;
    })) << view->GetAlertText();

    CPtyPair second;
    pointLinkAt(second);
    // Checked once a second, and set up anew as Logon does.
    EXPECT_EQ(TickAwait(second, 3), "\x1b\x04\r");
    EXPECT_EQ(view->GetLostDevice(), "");
    EXPECT_EQ(view->GetTerminal().GetState(), ST_WAITING_FOR_CR);
    EXPECT_TRUE(TickUntil([&] { return view->GetAlertText().empty(); }));
    second.Write("\r");
    EXPECT_EQ(TickAwait(second, 3), "ID=");
    frame->RefreshPanes();
    EXPECT_EQ(frame->GetStatusBar()->GetStatusText(0).Find("device lost"), wxNOT_FOUND);
    // The frame grew for the alerts line; the size kept is the user's.
    EXPECT_GT(frame->GetClientSize().y, sized.y);
    frame->Close(true);
    PumpEvents(30);
    frame = nullptr;
    EXPECT_EQ(CIniProfile(dir.Path("volnex.INI"))
                  .GetString("Configuration", "WindowSize", ""),
              std::to_string(sized.x) + "x" + std::to_string(sized.y));
}

TEST_F(LineRecoveryGuiTest, AfterLogoffALostLineStaysOffUntilLogon) {
    const std::string strLink = dir.Path("line");
    auto first = std::make_unique<CPtyPair>();
    ASSERT_EQ(symlink(first->SlavePath().c_str(), strLink.c_str()), 0);
    StartProgram("", strLink);
    ASSERT_EQ(Await(3, first.get()), "\x1b\x04\r");
    first->CloseMaster();
    ASSERT_TRUE(TickUntil([&] { return !view->GetLostDevice().empty(); }));
    view->OnLogoff();
    EXPECT_EQ(view->GetLostDevice(), "");
    // The device is back, but the operator ended the session: nothing
    // brings the line back by itself.
    CPtyPair second;
    std::remove(strLink.c_str());
    ASSERT_EQ(symlink(second.SlavePath().c_str(), strLink.c_str()), 0);
    EXPECT_EQ(TickAwait(second, 1, 30), "");
    EXPECT_EQ(view->GetLostDevice(), "");
    view->OnLogon();
    EXPECT_EQ(Await(3, &second), "\x1b\x04\r");
}

} // namespace
