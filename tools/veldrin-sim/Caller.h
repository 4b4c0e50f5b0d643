// CCaller: the page-originating side of the dialogue, over a serial device.
//
// It logs on (CR until "ID=", then ESC PG1 CR), sends each page as a block
// with its checksum, waits for ACK or NAK, resends a NAKed block when asked
// to, and ends with EOT CR, checking that the terminal answers it with ESC
// EOT CR (callers that wait for that answer count the pages as failed
// without it). It knows which answer each page should get
// (faults change that) and counts what happened.
#pragma once

#include "serial/SerialDevice.h"
#include "tools/veldrin-sim/SimOptions.h"

#include <chrono>
#include <ostream>
#include <string>
#include <vector>

class CCaller {
  public:
    enum class Answer { kAck, kNak, kNone, kRs, kEnd };

    CCaller(ISerialDevice& device, const CSimOptions& options, std::ostream& out);

    // Runs the whole session; the exit status: 0 when every page got the
    // answer expected, 1 otherwise.
    int Run();

    struct CStats {
        int nSent = 0;
        int nAccepted = 0;
        int nRejected = 0;
        int nUnanswered = 0;
        int nUnexpected = 0; // pages whose answer was not the one expected
        std::vector<double> latenciesMs;
    };
    const CStats& GetStats() const { return m_stats; }

  private:
    enum class Heard { kAck, kNak, kRs, kPrompt, kLogonAck, kEnd, kNothing };
    // Logs the response codes (revision 1.8's message sequences) in what an
    // answer brought.
    void LogCodes(const std::string& strBytes);

    bool Logon();
    void SendPage(size_t nIndex, const CSimPage& page);
    // One block until it is answered as expected, resent as the options
    // say; the answer it got last.
    // bMore: more blocks of the page follow.
    Answer SendBlock(size_t nIndex, const std::string& strBlock,
                     const std::string& strLabel, Answer expected, bool bMore);
    Answer ExpectedAnswer(size_t nIndex) const;
    std::string BlockFor(size_t nIndex, const CSimPage& page) const;
    // Waits for the first answer-like sequence in what arrives: the logon
    // answers while logging on, the page answers otherwise.
    Heard Await(int nTimeoutMs, bool bLogon);
    // Waits for a line the terminal hung up, and logs on again.
    bool Redial();
    // The line's levels as they are now, once the device has taken care of
    // its connection; false when they cannot be read.
    bool ReadLevels(unsigned* pnLevels);
    // EOT CR, and the terminal's ESC EOT CR when a session is on.
    void EndSession();
    bool AllAsExpected() const;
    void Write(const std::string& strBytes);
    void Log(const std::string& strText);
    void Summary();
    static const char* Describe(Answer answer);

    ISerialDevice& m_device;
    const CSimOptions& m_options;
    std::ostream& m_out;
    std::string m_strInput; // received, not yet matched
    bool m_bLoggedOn = false;
    bool m_bPrompted = false; // "ID=" seen since the last logon
    bool m_bLineClosed = false;
    bool m_bHungUp = false; // the terminal ended the line during a session
    bool m_bLogonAsExpected = true;
    bool m_bEndAnswered = true; // ESC EOT CR came after our EOT CR
    CStats m_stats;
    double m_dPagesSeconds = 0.0; // from the first block to the last answer
};
