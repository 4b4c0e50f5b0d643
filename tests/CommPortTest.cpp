#include "serial/CommPort.h"
#include "tests/FakeSerialDevice.h"
#include "tests/TempDir.h"
#include "tests/TestSupport.h"

#include <gtest/gtest.h>

#include <future>
#include <memory>
#include <sys/stat.h>

namespace {

// Levels and bytes as the owner saw them, in order, e.g. "C1 D1 R1 x:A".
std::string Trace(const CRecordingTarget& target) {
    std::string text;
    for (const CNote& note : target.notes) {
        if (!text.empty())
            text += ' ';
        switch (note.nMsg) {
        case UM_COMM_CTS: text += note.wParam ? "C1" : "C0"; break;
        case UM_COMM_DSR: text += note.wParam ? "D1" : "D0"; break;
        case UM_COMM_DCD: text += note.wParam ? "R1" : "R0"; break;
        case UM_COMM_RXCHAR:
            text += "x:";
            text += static_cast<char>(note.wParam);
            break;
        default: text += "?" + std::to_string(note.nMsg); break;
        }
    }
    return text;
}

class CommPortPtyTest : public ::testing::Test {
  protected:
    explicit CommPortPtyTest(bool bPacket = false) : pty(bPacket) {}

    void SetUp() override { Attach(*port); }

    void Attach(CCommPort& p) {
        p.SetUiPoster(loop.Poster());
        p.SetMessageBoxes(&boxes);
        p.SetDeviceResolver([this](int) { return pty.SlavePath(); });
    }

    bool SetupPort(CCommPort& p, int nBaud = 9600, char chParity = 'N', int nData = 8,
                   int nStop = 1, int nRts = 1, int nDtr = 1) {
        CLineSettings line = TestLine(1, nBaud, chParity, nData, nStop);
        line.flow.nRts = nRts;
        line.flow.nDtr = nDtr;
        return p.Setup(&target, line);
    }

    // Without pumping: the monitor thread then waits for the UI thread.
    void WaitUntilADeliveryIsPosted() {
        auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        while (loop.Posted() == 0 && std::chrono::steady_clock::now() < deadline)
            std::this_thread::yield();
    }

    bool WaitForBytes(const std::string& strBytes) {
        return loop.PumpUntil([&] { return target.ReceivedBytes() == strBytes; });
    }

    CPtyPair pty;
    CTestUiLoop loop;
    CRecordingTarget target;
    CRecordingBoxes boxes;
    std::unique_ptr<CCommPort> port = std::make_unique<CCommPort>();
};

TEST_F(CommPortPtyTest, DeliversEachByteInOrderAfterTheLevelsOfItsWakeUp) {
    ASSERT_TRUE(SetupPort(*port));
    ASSERT_TRUE(port->StartMonitor());
    pty.Write("A");
    ASSERT_TRUE(WaitForBytes("A"));
    // A pseudo-terminal has no modem lines: they read as on while it is open.
    EXPECT_EQ(Trace(target), "C1 D1 R1 x:A");
    EXPECT_EQ(target.notes[1].wParam, 1u);
    EXPECT_EQ(target.notes[2].wParam, 1u);

    pty.Write(std::string("B\r\x02\0\xff", 5));
    ASSERT_TRUE(WaitForBytes(std::string("AB\r\x02\0\xff", 6)));
    for (const CNote& note : target.notes)
        EXPECT_EQ(note.thread,
                  std::this_thread::get_id()); // delivered on the UI thread
    // Every wake-up reports the three levels before its bytes; bytes that
    // arrive while a wake-up drains the queue join it.
    std::string trace = Trace(target);
    EXPECT_EQ(trace.rfind("C1 D1 R1 x:A ", 0), 0u) << trace;
    EXPECT_EQ(trace.substr(trace.size() - 3), std::string("x:\xff")) << trace;
    EXPECT_EQ(port->QueryDsr(false), static_cast<int>(MS_DSR_ON));
    EXPECT_TRUE(boxes.boxes.empty());
}

TEST_F(CommPortPtyTest, QueuedTextReachesThePeer) {
    ASSERT_TRUE(SetupPort(*port));
    ASSERT_TRUE(port->StartMonitor());
    port->QueueWrite("ID=");
    EXPECT_EQ(pty.Read(3), "ID=");
    port->QueueWrite(std::string("\x1b\x04\r"));
    EXPECT_EQ(pty.Read(3), "\x1b\x04\r");
}

TEST_F(CommPortPtyTest, OnlyTheLastOfTwoTextsQueuedBeforeTheWriteIsWritten) {
    ASSERT_TRUE(SetupPort(*port));
    port->QueueWrite("FIRST");
    port->QueueWrite("SECOND");
    ASSERT_TRUE(port->StartMonitor());
    EXPECT_EQ(pty.ReadQuiet(), "SECOND");
}

TEST_F(CommPortPtyTest, QueuedTextIsCutToTheOutputBuffer) {
    CLineSettings line = TestLine();
    line.nOutBufferSize = 8;
    ASSERT_TRUE(port->Setup(&target, line));
    ASSERT_TRUE(port->StartMonitor());
    port->QueueWrite("0123456789");
    EXPECT_EQ(pty.ReadQuiet(), "0123456"); // seven characters and the NUL
}

class CommPortPacketTest : public CommPortPtyTest {
  protected:
    CommPortPacketTest() : CommPortPtyTest(true) {}
};

TEST_F(CommPortPacketTest, PurgeBeforeAWriteIsVisibleOnTheLine) {
    ASSERT_TRUE(SetupPort(*port));
    ASSERT_TRUE(port->StartMonitor());
    pty.ReadQuiet(); // the purges of set-up and thread start
    size_t nStart = pty.PacketLog().size();
    port->Purge(PURGE_TXCLEAR | PURGE_RXCLEAR);
    port->QueueWrite("\x06\r");
    EXPECT_EQ(pty.Read(2), "\x06\r");
    std::string log = pty.PacketLog().substr(nStart);
    EXPECT_EQ(log.rfind("[flush]", 0), 0u) << log;
    EXPECT_EQ(log.substr(log.size() - 2), "\x06\r");
}

TEST_F(CommPortPtyTest, PurgeDropsTextNotYetWritten) {
    ASSERT_TRUE(SetupPort(*port));
    port->QueueWrite("STALE");
    port->Purge(PURGE_TXCLEAR | PURGE_RXCLEAR);
    ASSERT_TRUE(port->StartMonitor());
    EXPECT_EQ(pty.ReadQuiet(), "");
}

TEST_F(CommPortPtyTest, SetupOnAMissingDeviceFailsWithoutABox) {
    port->SetDeviceResolver([](int) { return std::string("/dev/volnex-no-such-tty"); });
    EXPECT_FALSE(port->IsOpen());
    EXPECT_FALSE(SetupPort(*port));
    EXPECT_TRUE(port->IsOpen()); // the failed open is recorded
    EXPECT_TRUE(boxes.boxes.empty());
    EXPECT_NE(port->GetOpenError().find("/dev/volnex-no-such-tty: No such file"),
              std::string::npos)
        << port->GetOpenError();
}

TEST_F(CommPortPtyTest, PathsThatOpenButAreNoTerminalAreOpenFailures) {
    // Once a profile names such a path, every start would otherwise meet it:
    // the window must come up so that the Connection sheet can mend it.
    CTempDir dir;
    CTempDir::Write(dir.Path("file"), "not a line");
    ASSERT_EQ(mkfifo(dir.Path("fifo").c_str(), 0600), 0);
    for (const std::string& strPath :
         {std::string("/dev/null"), dir.Path("file"), dir.Path("fifo")}) {
        port->SetDeviceResolver([&](int) { return strPath; });
        EXPECT_FALSE(SetupPort(*port)) << strPath;
        EXPECT_EQ(port->GetOpenError(), strPath + ": not a serial device");
    }
    EXPECT_TRUE(boxes.boxes.empty());
    EXPECT_EQ(CTempDir::Read(dir.Path("file")), "not a line");
}

TEST_F(CommPortPtyTest, DefaultDeviceOfPortNIsTtySNMinus1) {
    CCommPort plain;
    plain.SetMessageBoxes(&boxes);
    plain.Setup(&target, TestLine(3));
    EXPECT_EQ(plain.GetDevicePath(), "/dev/ttyS2");
}

TEST_F(CommPortPtyTest, ImpossibleLineFormatsAreReportedAsBuildCommDCBFailures) {
    struct {
        int nBaud;
        char chParity;
        int nData;
        int nStop;
    } cases[] = {{12345, 'N', 8, 1}, {9600, 'X', 8, 1}, {9600, '\0', 8, 1},
                 {9600, 'N', 9, 1},  {9600, 'N', 4, 1}, {9600, 'N', 8, 3}};
    for (const auto& c : cases) {
        boxes.boxes.clear();
        EXPECT_TRUE(SetupPort(*port, c.nBaud, c.chParity, c.nData, c.nStop));
        ASSERT_EQ(boxes.boxes.size(), 1u)
            << c.nBaud << c.chParity << c.nData << c.nStop;
        const CBoxRecord& box = boxes.boxes[0];
        EXPECT_EQ(box.strText, "WARNING:  BuildCommDCB() Failed with the following "
                               "error: \nInvalid argument\nPort: 1\n");
        EXPECT_EQ(box.strCaption, "Application Error");
        EXPECT_EQ(box.nStyle, MB_OK | MB_ICONSTOP);
        EXPECT_FALSE(box.bOwned);
    }
    // The device stays open and works, only partly configured.
    ASSERT_TRUE(port->StartMonitor());
    pty.Write("Z");
    EXPECT_TRUE(WaitForBytes("Z"));
}

TEST_F(CommPortPtyTest, FlowControlLinuxCannotDoIsReportedOnceAndTheRestApplied) {
    // DTR handshake has no Linux equivalent.
    EXPECT_TRUE(SetupPort(*port, 9600, 'E', 7, 2, 2, 2));
    ASSERT_EQ(boxes.boxes.size(), 1u);
    EXPECT_NE(boxes.boxes[0].strText.find("SetCommState() Failed"), std::string::npos);
    ASSERT_TRUE(port->StartMonitor());
    port->QueueWrite("OK");
    EXPECT_EQ(pty.Read(2), "OK");
}

TEST_F(CommPortPtyTest, HangUpTurnsTheLevelsOffOnceAndTheThreadIdles) {
    ASSERT_TRUE(SetupPort(*port));
    ASSERT_TRUE(port->StartMonitor());
    pty.Write("A");
    ASSERT_TRUE(WaitForBytes("A"));
    target.notes.clear();
    pty.CloseMaster();
    ASSERT_TRUE(loop.PumpUntil([&] { return target.Count(UM_COMM_DCD) > 0; }));
    loop.PumpFor(100);
    EXPECT_EQ(Trace(target), "C0 D0 R0");
    EXPECT_LE(boxes.boxes.size(), 1u);
    EXPECT_EQ(port->QueryDsr(false), 0);
    EXPECT_EQ(port->QueryDcd(false), 0);
    // A lost device is not polled again: the thread sleeps until asked.
    unsigned nWakeups = port->GetWakeCount();
    loop.PumpFor(300);
    EXPECT_EQ(port->GetWakeCount(), nWakeups);
    // Answers for the lost device are dropped without error boxes.
    size_t nBoxes = boxes.boxes.size();
    port->QueueWrite("\x06\r");
    loop.PumpFor(50);
    EXPECT_EQ(boxes.boxes.size(), nBoxes);
    // A fresh query sees the device as it is: gone.
    EXPECT_EQ(port->QueryDsr(true), 0);
}

TEST_F(CommPortPtyTest, DestroyingThePortWhileADeliveryWaitsReturnsAndDelivers) {
    ASSERT_TRUE(SetupPort(*port));
    ASSERT_TRUE(port->StartMonitor());
    pty.Write("Q");
    // Do not pump: the monitor thread now waits for the UI thread.
    WaitUntilADeliveryIsPosted();
    ASSERT_EQ(loop.Posted(), 1u);
    // Must neither deadlock nor drop the level message in progress; nothing
    // new is started after the stop.
    port.reset();
    EXPECT_EQ(Trace(target), "C1");
    loop.PumpFor(20); // stale posted copies do nothing
    EXPECT_EQ(Trace(target), "C1");
}

TEST_F(CommPortPtyTest, SettingUpAgainWhileADeliveryWaitsReturns) {
    ASSERT_TRUE(SetupPort(*port));
    ASSERT_TRUE(port->StartMonitor());
    pty.Write("Q");
    WaitUntilADeliveryIsPosted();
    ASSERT_TRUE(SetupPort(*port));
    EXPECT_FALSE(port->IsMonitorAlive());
    ASSERT_TRUE(port->StartMonitor());
    target.notes.clear();
    pty.Write("R");
    EXPECT_TRUE(WaitForBytes("R"));
}

TEST_F(CommPortPtyTest, AnswerQueuedJustBeforeTheStopStillReachesTheLine) {
    ASSERT_TRUE(SetupPort(*port));
    ASSERT_TRUE(port->StartMonitor());
    port->QueueWrite("\x1b\x04\r");
    port.reset();
    EXPECT_EQ(pty.ReadQuiet(), "\x1b\x04\r");
}

TEST_F(CommPortPtyTest, ASecondOpenOfAPortInUseFails) {
    ASSERT_TRUE(SetupPort(*port));
    CCommPort second;
    Attach(second);
    EXPECT_FALSE(SetupPort(second));
    EXPECT_NE(second.GetOpenError().find("busy"), std::string::npos)
        << second.GetOpenError();
    // Once the first port lets go, the device can be opened again.
    port.reset();
    EXPECT_TRUE(SetupPort(second));
}

// A line nobody set up is in the kernel's cooked mode. A line format the
// port rejects must still leave it a binary line: no echo, CR stays CR, and
// ETX and EOT are bytes, not the interrupt and end-of-file characters.
TEST(CommPortCookedLineTest, ARejectedLineFormatStillGivesABinaryLine) {
    struct {
        int nBaud;
        char chParity;
        int nData;
    } cases[] = {{0, 'N', 8}, {14400, 'N', 8}, {9600, '\0', 8}, {9600, 'N', 4}};
    for (const auto& c : cases) {
        CPtyPair pty(false, CPtyPair::Mode::kCooked);
        CTestUiLoop loop;
        CRecordingTarget target;
        CRecordingBoxes boxes;
        CCommPort port;
        port.SetUiPoster(loop.Poster());
        port.SetMessageBoxes(&boxes);
        port.SetDeviceResolver([&](int) { return pty.SlavePath(); });
        ASSERT_TRUE(port.Setup(&target, TestLine(1, c.nBaud, c.chParity, c.nData, 1)));
        ASSERT_EQ(boxes.boxes.size(), 1u) << c.nBaud;
        EXPECT_NE(boxes.boxes[0].strText.find("BuildCommDCB()"), std::string::npos);
        ASSERT_TRUE(port.StartMonitor());
        const std::string strCaller = "\r\x02"
                                      "1\r\x03\x04\r";
        pty.Write(strCaller);
        EXPECT_TRUE(loop.PumpUntil([&] { return target.ReceivedBytes() == strCaller; }))
            << c.nBaud << ": " << target.ReceivedBytes().size() << " bytes";
        EXPECT_EQ(pty.ReadQuiet(), "") << "echoed";
        EXPECT_FALSE(port.IsDeviceLost());
    }
}

// A port over a fake device, whose modem lines and failures the test sets.
class CommPortFakeTest : public ::testing::Test {
  protected:
    void SetUp() override {
        shared.nModemStatus = MS_CTS_ON | MS_DSR_ON | MS_RLSD_ON;
        port =
            std::make_unique<CCommPort>(std::make_unique<CFakeSerialDevice>(&shared));
        port->SetUiPoster(loop.Poster());
        port->SetMessageBoxes(&boxes);
    }
    void TearDown() override {
        port.reset();
        CFakeSerialDevice::Release(&shared);
    }

    CFakeSerialDevice::CShared shared;
    CTestUiLoop loop;
    CRecordingTarget target;
    CRecordingBoxes boxes;
    std::unique_ptr<CCommPort> port;
};

// The UI thread waits for the monitor thread's start-up and may take the
// device lock at any time: a failure met by the monitor thread in either
// window is reported only once the UI thread is free to show it.
class CommPortErrorTest : public CommPortFakeTest {
  protected:
    // Runs a UI-thread call while nothing serves the UI thread's queue: true
    // when it returns on its own. Afterwards the queue is served until it did.
    bool ReturnsWithoutServing(const std::function<void()>& call) {
        auto done = std::async(std::launch::async, call);
        bool bReturned =
            done.wait_for(std::chrono::seconds(3)) == std::future_status::ready;
        loop.PumpUntil([&] {
            return done.wait_for(std::chrono::seconds(0)) == std::future_status::ready;
        });
        return bReturned;
    }
};

TEST_F(CommPortErrorTest, AFailedPurgeAtTheThreadStartDoesNotHoldUpStartMonitor) {
    shared.nFlushError = EINVAL;
    ASSERT_TRUE(port->Setup(&target, TestLine(1)));
    ASSERT_EQ(boxes.boxes.size(), 1u); // the set-up's own purge, on this thread
    EXPECT_TRUE(ReturnsWithoutServing([&] { EXPECT_TRUE(port->StartMonitor()); }));
    ASSERT_TRUE(loop.PumpUntil([&] { return boxes.boxes.size() == 2; }));
    EXPECT_NE(boxes.boxes[1].strText.find("PurgeComm() Failed"), std::string::npos);
}

TEST_F(CommPortErrorTest, APurgeWhileAWriteFailureIsReportedDoesNotWaitForTheBox) {
    ASSERT_TRUE(port->Setup(&target, TestLine(1)));
    ASSERT_TRUE(port->StartMonitor());
    shared.nWriteError = EPROTO;
    const size_t nPosted = loop.Posted();
    port->QueueWrite("\x06\r");
    // The monitor thread now waits for its box to be shown.
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (loop.Posted() == nPosted && std::chrono::steady_clock::now() < deadline)
        std::this_thread::yield();
    ASSERT_GT(loop.Posted(), nPosted);
    EXPECT_TRUE(
        ReturnsWithoutServing([&] { port->Purge(PURGE_TXCLEAR | PURGE_RXCLEAR); }));
    ASSERT_TRUE(loop.PumpUntil([&] { return !boxes.boxes.empty(); }));
    EXPECT_NE(boxes.boxes[0].strText.find("WriteFile() Failed"), std::string::npos);
}

TEST_F(CommPortPtyTest, FreshQueriesReportOnAndNotifyTheOwner) {
    ASSERT_TRUE(SetupPort(*port));
    EXPECT_EQ(port->QueryDsr(true), 1);
    EXPECT_EQ(port->QueryDcd(true), 1);
    ASSERT_EQ(target.notes.size(), 2u);
    EXPECT_EQ(target.notes[0].nMsg, UM_COMM_DSR);
    EXPECT_EQ(target.notes[0].wParam, 1u);
    EXPECT_EQ(target.notes[1].nMsg, UM_COMM_DCD);
    EXPECT_EQ(target.notes[1].wParam, 1u);
}

// Modem lines cannot change on a pseudo-terminal: the line-change logic is
// driven through a fake device.
class CommPortFakeLinesTest : public CommPortFakeTest {
  protected:
    void SetUp() override {
        CommPortFakeTest::SetUp();
        ASSERT_TRUE(port->Setup(&target, TestLine(2)));
        ASSERT_TRUE(port->StartMonitor());
    }
};

TEST(CommPortThreadTest, StartMonitorIsRefusedWithoutAUiPoster) {
    // Without a poster the thread's notifications would run on the monitor
    // thread itself, beside the engine on the caller's thread.
    CFakeSerialDevice::CShared shared;
    CRecordingTarget target;
    CTestUiLoop loop;
    {
        CCommPort port(std::make_unique<CFakeSerialDevice>(&shared));
        ASSERT_TRUE(port.Setup(&target, TestLine(1)));
        EXPECT_FALSE(port.StartMonitor());
        EXPECT_FALSE(port.IsMonitorAlive());
        port.SetUiPoster(loop.Poster());
        EXPECT_TRUE(port.StartMonitor());
    }
    CFakeSerialDevice::Release(&shared);
}

TEST_F(CommPortFakeLinesTest, ALineChangeWithoutBytesSendsTheThreeLevels) {
    loop.PumpFor(60);
    EXPECT_TRUE(target.notes.empty());            // nothing changed yet
    shared.nModemStatus = MS_CTS_ON | MS_RLSD_ON; // DSR drops
    ASSERT_TRUE(loop.PumpUntil([&] { return target.notes.size() >= 3; }));
    loop.PumpFor(60);
    EXPECT_EQ(Trace(target), "C1 D0 R1");
    EXPECT_EQ(target.notes[0].wParam, 1u);
    EXPECT_EQ(target.notes[2].wParam, 1u);
    EXPECT_EQ(port->QueryDsr(false), 0);
    EXPECT_EQ(port->QueryDcd(false), static_cast<int>(MS_RLSD_ON));
}

TEST_F(CommPortFakeLinesTest, AChangeOfALineOutsideTheMaskIsNoEvent) {
    shared.nModemStatus = MS_CTS_ON | MS_DSR_ON | MS_RLSD_ON | MS_RING_ON;
    loop.PumpFor(100);
    EXPECT_TRUE(target.notes.empty());
}

TEST_F(CommPortFakeLinesTest, AFailedReadDeliversNoByteAndReportsOnce) {
    shared.nReadError = EPROTO;
    CFakeSerialDevice::Feed(&shared, "XY");
    ASSERT_TRUE(loop.PumpUntil([&] { return target.Count(UM_COMM_DCD) >= 2; }));
    loop.PumpFor(100);
    EXPECT_EQ(target.Count(UM_COMM_RXCHAR), 0u);
    ASSERT_EQ(boxes.boxes.size(), 1u);
    EXPECT_NE(boxes.boxes[0].strText.find("ReadFile() Failed"), std::string::npos);
    EXPECT_NE(boxes.boxes[0].strText.find("Port: 2"), std::string::npos);
    // The device is given up: the last levels reported are off.
    EXPECT_EQ(Trace(target), "C1 D1 R1 C0 D0 R0");
}

TEST_F(CommPortFakeLinesTest, AnUnpluggedAdapterGivesOneBoxAndLevelsOff) {
    shared.nModemError = EIO;
    ASSERT_TRUE(loop.PumpUntil([&] { return target.Count(UM_COMM_DCD) >= 1; }));
    unsigned nWakeups = port->GetWakeCount();
    loop.PumpFor(200);
    EXPECT_EQ(Trace(target), "C0 D0 R0");
    ASSERT_EQ(boxes.boxes.size(), 1u);
    EXPECT_NE(boxes.boxes[0].strText.find("GetCommModemStatus() Failed"),
              std::string::npos);
    EXPECT_EQ(port->GetWakeCount(), nWakeups); // no more polling
}

TEST_F(CommPortFakeLinesTest, BytesReadAheadAreDroppedByAPurgeAsIfStillQueued) {
    // The owner answers the first byte with a purge, as the engine does: the
    // bytes that arrived with it must not reach the owner.
    target.onNotify = [&](const CNote& note) {
        if (note.nMsg == UM_COMM_RXCHAR && note.wParam == 'A')
            port->Purge(PURGE_TXCLEAR | PURGE_RXCLEAR);
    };
    CFakeSerialDevice::Feed(&shared, "ABC");
    ASSERT_TRUE(loop.PumpUntil([&] { return target.Count(UM_COMM_RXCHAR) >= 1; }));
    loop.PumpFor(100);
    EXPECT_EQ(target.ReceivedBytes(), "A");
    CFakeSerialDevice::Feed(&shared, "D");
    ASSERT_TRUE(loop.PumpUntil([&] { return target.ReceivedBytes() == "AD"; }));
}

TEST_F(CommPortFakeLinesTest, PurgesOfADeviceThatWentAwayShowNoBox) {
    // The line went away between two answers: the purge and the write meet
    // a dead device, which is a hang-up, not an error to report.
    shared.nFlushError = EIO;
    port->Purge(PURGE_TXCLEAR | PURGE_RXCLEAR);
    port->QueueWrite("\x06\r");
    loop.PumpFor(100);
    EXPECT_TRUE(boxes.boxes.empty());
    shared.nFlushError = EINVAL; // anything else is reported
    port->Purge(PURGE_TXCLEAR | PURGE_RXCLEAR);
    ASSERT_EQ(boxes.boxes.size(), 1u);
    EXPECT_NE(boxes.boxes[0].strText.find("PurgeComm() Failed"), std::string::npos);
}

TEST_F(CommPortFakeLinesTest, ErrorBoxesFromTheMonitorThreadShowOnTheUiThread) {
    shared.nReadError = EPROTO;
    std::thread::id shownOn;
    struct CThreadBoxes : CRecordingBoxes {
        std::thread::id* pId;
        int Show(const std::string& t, const std::string& c, unsigned s,
                 bool o) override {
            *pId = std::this_thread::get_id();
            return CRecordingBoxes::Show(t, c, s, o);
        }
    } threadBoxes;
    threadBoxes.pId = &shownOn;
    port->SetMessageBoxes(&threadBoxes);
    CFakeSerialDevice::Feed(&shared, "X");
    ASSERT_TRUE(loop.PumpUntil([&] { return !threadBoxes.boxes.empty(); }));
    EXPECT_EQ(shownOn, std::this_thread::get_id());
}

TEST_F(CommPortFakeLinesTest, ASetUpDuringADeliveryEndsTheOldBatchThere) {
    // A handler that sets the port up again (a Logon, a line recovery)
    // releases the monitor thread, which ends while its batch is still
    // being delivered. The rest of that batch must neither be read from the
    // ended thread (AddressSanitizer reports it) nor delivered after the
    // new run has started.
    target.onNotify = [&](const CNote& note) {
        if (note.nMsg == UM_COMM_RXCHAR && note.wParam == 'A') {
            ASSERT_TRUE(port->Setup(&target, TestLine(2)));
            ASSERT_TRUE(port->StartMonitor());
        }
    };
    CFakeSerialDevice::Feed(&shared, "ABC");
    ASSERT_TRUE(loop.PumpUntil([&] { return target.Count(UM_COMM_RXCHAR) >= 1; }));
    loop.PumpFor(100);
    EXPECT_EQ(target.ReceivedBytes(), "A");
    target.onNotify = nullptr;
    CFakeSerialDevice::Feed(&shared, "D"); // the new run serves the line
    EXPECT_TRUE(loop.PumpUntil([&] { return target.ReceivedBytes() == "AD"; }))
        << target.ReceivedBytes();
}

// A line that takes no output: the writer waits for it, and the UI thread,
// which asks the port for its line every 100 ms, must not wait with it.
class CommPortBlockedLineTest : public CommPortFakeTest {
  protected:
    void SetUp() override {
        CommPortFakeTest::SetUp();
        port->SetWriteTimeout(60000); // longer than any wait of the test
        ASSERT_TRUE(port->Setup(&target, TestLine(1)));
        ASSERT_TRUE(port->StartMonitor());
        CFakeSerialDevice::BlockWrites(&shared);
    }
    void TearDown() override {
        CFakeSerialDevice::DrainOutput(&shared); // lets a waiting writer finish
        CommPortFakeTest::TearDown();
    }
    bool WriterWaits() {
        auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        while (shared.nWritesRefused == 0 &&
               std::chrono::steady_clock::now() < deadline)
            std::this_thread::yield();
        return shared.nWritesRefused > 0;
    }
    // True when the call returns while the writer still waits.
    bool ReturnsWhileTheWriterWaits(const std::function<void()>& call) {
        auto done = std::async(std::launch::async, call);
        const bool bReturned =
            done.wait_for(std::chrono::seconds(5)) == std::future_status::ready;
        if (!bReturned)
            CFakeSerialDevice::DrainOutput(&shared);
        done.wait();
        return bReturned;
    }
};

TEST_F(CommPortBlockedLineTest, TheUiThreadIsNotHeldWhileTheWriterWaitsForTheLine) {
    port->QueueWrite("\x06\r");
    ASSERT_TRUE(WriterWaits());
    EXPECT_TRUE(ReturnsWhileTheWriterWaits([&] { port->DescribeLine(); }));
    EXPECT_TRUE(ReturnsWhileTheWriterWaits([&] { port->QueryDsr(true); }));
    EXPECT_TRUE(ReturnsWhileTheWriterWaits([&] { port->Purge(PURGE_RXCLEAR); }));
    // Once the line takes output again, the answer goes out whole.
    std::string strTaken;
    ASSERT_TRUE(loop.PumpUntil([&] {
        strTaken += CFakeSerialDevice::DrainOutput(&shared);
        return strTaken.size() >= 2 && strTaken.substr(strTaken.size() - 2) == "\x06\r";
    })) << strTaken.size();
    loop.PumpFor(50);
    EXPECT_TRUE(boxes.boxes.empty());
    EXPECT_EQ(target.Count(UM_LINE_NOTE), 0u);
}

TEST_F(CommPortBlockedLineTest, AnAnswerTheLineNeverTakesIsNotedNotBoxed) {
    port->SetWriteTimeout(50);
    port->QueueWrite("\x06\r");
    ASSERT_TRUE(loop.PumpUntil([&] { return target.Count(UM_LINE_NOTE) > 0; }));
    const CNote& note = target.notes.back();
    EXPECT_EQ(note.strTrace,
              "   ANSWER NOT SENT: <ACK><CR> (THE LINE TOOK NO OUTPUT FOR 50 MS)");
    EXPECT_TRUE(boxes.boxes.empty()); // a time-out is no failed call
    // The port goes on: the next answer goes out once the line takes it.
    CFakeSerialDevice::DrainOutput(&shared);
    port->QueueWrite("\x15\r");
    std::string strTaken;
    EXPECT_TRUE(loop.PumpUntil([&] {
        strTaken += CFakeSerialDevice::DrainOutput(&shared);
        return strTaken == "\x15\r";
    })) << strTaken;
}

} // namespace
