// veldrin-sim's caller against a scripted terminal on a pseudo-terminal
// pair: what it reports about a terminal that does or does not do its part.
#include "tools/veldrin-sim/Caller.h"
#include "serial/TermiosDevice.h"
#include "tests/TestSupport.h"

#include <gtest/gtest.h>

#include <atomic>
#include <sstream>
#include <thread>

namespace {

// Plays the terminal on the master side: the prompt for a CR, the logon
// answer, ACK CR for every block, and ESC EOT CR for EOT CR when asked to.
class CScriptedTerminal {
  public:
    CScriptedTerminal(CPtyPair& line, bool bAnswerEnd)
        : m_line(line), m_bAnswerEnd(bAnswerEnd) {
        m_thread = std::thread([this] { Run(); });
    }
    ~CScriptedTerminal() {
        m_bStop = true;
        m_thread.join();
    }

  private:
    void Run() {
        std::string strInput;
        while (!m_bStop) {
            strInput += m_line.Read(64, 20);
            size_t nAt;
            if ((nAt = strInput.find("\x1bPG1\r")) != std::string::npos) {
                m_line.Write("\x06\r\x1b[p\r");
                strInput.erase(0, nAt + 5);
            } else if ((nAt = strInput.find("\x04\r")) != std::string::npos) {
                if (m_bAnswerEnd)
                    m_line.Write("\x1b\x04\r");
                strInput.erase(0, nAt + 2);
            } else if ((nAt = strInput.find('\x03')) != std::string::npos &&
                       strInput.find('\r', nAt) != std::string::npos) {
                m_line.Write("\x06\r");
                strInput.erase(0, strInput.find('\r', nAt) + 1);
            } else if (strInput == "\r") {
                m_line.Write("ID=");
                strInput.clear();
            }
        }
    }

    CPtyPair& m_line;
    bool m_bAnswerEnd;
    std::atomic<bool> m_bStop{false};
    std::thread m_thread;
};

// Runs a session of two pages; the exit status and what was printed.
std::pair<int, std::string> CallTerminal(bool bAnswerEnd) {
    CPtyPair line;
    CScriptedTerminal terminal(line, bAnswerEnd);
    CTermiosDevice device;
    EXPECT_EQ(device.Open(line.SlavePath()), 0);
    EXPECT_EQ(device.WriteSettings(CLineFormat(), CFlowControlModes()), 0);
    CSimOptions options;
    options.pages = {{"1234", "HELLO"}, {"5678", "WORLD"}};
    std::ostringstream out;
    CCaller caller(device, options, out);
    int nStatus = caller.Run();
    return {nStatus, out.str()};
}

TEST(CallerTest, ASessionEndAnsweredWithEscEotCrPasses) {
    auto [nStatus, strOut] = CallTerminal(true);
    EXPECT_EQ(nStatus, 0) << strOut;
    EXPECT_NE(strOut.find("session ended by the terminal's ESC EOT CR"),
              std::string::npos);
    EXPECT_NE(strOut.find("2 accepted, 0 rejected"), std::string::npos);
}

TEST(CallerTest, ATerminalThatDoesNotAnswerTheEndIsReported) {
    auto [nStatus, strOut] = CallTerminal(false);
    EXPECT_EQ(nStatus, 1);
    EXPECT_NE(strOut.find("no ESC EOT CR after EOT CR"), std::string::npos) << strOut;
    EXPECT_NE(strOut.find("UNEXPECTED ANSWERS"), std::string::npos);
}

} // namespace
