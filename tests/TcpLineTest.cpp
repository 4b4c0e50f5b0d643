// Network lines: the values that name them, and the port serving a TCP
// connection over loopback as its line.
#include "engine/PageTerminal.h"
#include "serial/CommPort.h"
#include "serial/TcpDevice.h"
#include "serial/TcpEndpoint.h"
#include "tests/TerminalPortFixture.h"
#include "tests/TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <arpa/inet.h>
#include <chrono>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace {

TEST(TcpEndpointTest, ReadsTheNetworkLineValues) {
    struct {
        const char* szValue;
        bool bListen;
        const char* szHostPort;
        bool bReachable;
    } cases[] = {
        {"tcp-listen:2775", true, "127.0.0.1:2775", false},
        {"tcp-listen:0.0.0.0:10001", true, "0.0.0.0:10001", true},
        {"tcp-listen:192.168.1.20:1500", true, "192.168.1.20:1500", true},
        {"tcp-listen:[::1]:2775", true, "[::1]:2775", false},
        {"tcp-listen:[::]:4827", true, "[::]:4827", true},
        {"tcp:10.0.0.5:4001", false, "10.0.0.5:4001", false},
        {"tcp:devserver.local:20001", false, "devserver.local:20001", false},
        {"tcp:[fe80::1]:3100", false, "[fe80::1]:3100", false},
    };
    for (const auto& c : cases) {
        CTcpEndpoint endpoint;
        std::string strError;
        ASSERT_TRUE(ParseTcpEndpoint(c.szValue, &endpoint, &strError))
            << c.szValue << strError;
        EXPECT_TRUE(IsTcpEndpoint(c.szValue));
        EXPECT_EQ(endpoint.bListen, c.bListen) << c.szValue;
        EXPECT_EQ(endpoint.HostPort(), c.szHostPort);
        EXPECT_EQ(endpoint.IsReachableFromNetwork(), c.bReachable) << c.szValue;
    }
}

TEST(TcpEndpointTest, RejectsBadValuesSayingWhy) {
    struct {
        const char* szValue;
        const char* szError;
    } cases[] = {
        {"tcp-listen:99999", "port must be a number from 1 to 65535"},
        {"tcp-listen:0", "port must be a number from 1 to 65535"},
        {"tcp-listen:abc", "port must be a number from 1 to 65535"},
        {"tcp-listen:", "port must be a number from 1 to 65535"},
        {"tcp:host", "expected tcp:HOST:PORT"},
        {"tcp::20", "expected tcp:HOST:PORT"},
        {"tcp:host:2x", "port must be a number from 1 to 65535"},
        {"tcp-listen:::1:2775", "expected tcp-listen:PORT or tcp-listen:ADDRESS:PORT"},
        {"tcp-listen:[::1]2775", "expected tcp-listen:PORT or tcp-listen:ADDRESS:PORT"},
        {"tcp-listen:myhost:2775",
         "listen on an IP address of this computer, not 'myhost'"},
    };
    for (const auto& c : cases) {
        CTcpEndpoint endpoint;
        std::string strError;
        EXPECT_FALSE(ParseTcpEndpoint(c.szValue, &endpoint, &strError)) << c.szValue;
        EXPECT_EQ(strError, c.szError) << c.szValue;
    }
    // Device paths are no network lines, whatever they look like.
    for (const char* szPath :
         {"/dev/ttyUSB0", "tcp", "/tmp/tcp:1", "TCP:host:1", "udp:h:1"})
        EXPECT_FALSE(IsTcpEndpoint(szPath)) << szPath;
}

// A loopback port nobody listens on (as far as anyone can tell).
int FreePort() {
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    socklen_t nSize = sizeof address;
    getsockname(fd, reinterpret_cast<sockaddr*>(&address), &nSize);
    close(fd);
    return ntohs(address.sin_port);
}

// The other end: a caller that connects, or a device server that listens.
class CPeer {
  public:
    ~CPeer() { Close(); }
    bool Connect(int nPort) {
        m_fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        address.sin_port = htons(static_cast<uint16_t>(nPort));
        return connect(m_fd, reinterpret_cast<sockaddr*>(&address), sizeof address) ==
               0;
    }
    void Listen(int nPort) {
        m_listenFd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        int nOn = 1;
        setsockopt(m_listenFd, SOL_SOCKET, SO_REUSEADDR, &nOn, sizeof nOn);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        address.sin_port = htons(static_cast<uint16_t>(nPort));
        ASSERT_EQ(
            bind(m_listenFd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
        ASSERT_EQ(listen(m_listenFd, 4), 0);
    }
    // Takes the next connection, within five seconds.
    bool Accept() {
        pollfd pfd{m_listenFd, POLLIN, 0};
        if (poll(&pfd, 1, 5000) != 1)
            return false;
        m_fd = accept4(m_listenFd, nullptr, nullptr, SOCK_CLOEXEC);
        return m_fd >= 0;
    }
    void Send(const std::string& strBytes) {
        ASSERT_EQ(send(m_fd, strBytes.data(), strBytes.size(), MSG_NOSIGNAL),
                  static_cast<ssize_t>(strBytes.size()));
    }
    // Reads until nCount bytes or the end of the connection, within 5 s.
    std::string Receive(size_t nCount) {
        std::string strText;
        auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        while (strText.size() < nCount && std::chrono::steady_clock::now() < deadline) {
            pollfd pfd{m_fd, POLLIN, 0};
            if (poll(&pfd, 1, 50) != 1)
                continue;
            char buffer[256];
            ssize_t r = recv(m_fd, buffer, sizeof buffer, 0);
            if (r <= 0) {
                m_bEnded = true;
                break;
            }
            strText.append(buffer, static_cast<size_t>(r));
        }
        return strText;
    }
    // This end's address as the terminal sees it ("127.0.0.1:53122").
    std::string LocalAddress() const {
        sockaddr_in address{};
        socklen_t nSize = sizeof address;
        getsockname(m_fd, reinterpret_cast<sockaddr*>(&address), &nSize);
        return "127.0.0.1:" + std::to_string(ntohs(address.sin_port));
    }
    // True when the terminal closed the connection within five seconds.
    bool Ended() {
        Receive(1 << 20);
        return m_bEnded;
    }
    void Close() {
        if (m_fd >= 0)
            close(m_fd);
        m_fd = -1;
    }
    void StopListening() {
        if (m_listenFd >= 0)
            close(m_listenFd);
        m_listenFd = -1;
    }

  private:
    int m_fd = -1;
    int m_listenFd = -1;
    bool m_bEnded = false;
};

class TcpLineTest : public ::testing::Test {
  protected:
    void SetUp() override {
        port.SetUiPoster(loop.Poster());
        port.SetMessageBoxes(&boxes);
    }
    bool SetUpLine(const std::string& strValue) {
        port.SetDeviceResolver([strValue](int) { return strValue; });
        if (!port.Setup(&target, TestLine(1)))
            return false;
        return port.StartMonitor();
    }
    // DCD as the owner saw it change: "on off on " (every wake-up repeats
    // the levels; repeats are left out).
    std::string Dcd() const {
        std::string text, strLast;
        for (const CNote& note : target.notes) {
            if (note.nMsg != UM_COMM_DCD)
                continue;
            const std::string strLevel = note.wParam ? "on " : "off ";
            if (strLevel != strLast)
                text += strLevel;
            strLast = strLevel;
        }
        return text;
    }
    std::vector<std::string> Notes() const {
        std::vector<std::string> notes;
        for (const CNote& note : target.notes) {
            if (note.nMsg == UM_LINE_NOTE)
                notes.push_back(note.strTrace);
        }
        return notes;
    }
    bool PumpUntil(const std::function<bool()>& done) {
        return loop.PumpUntil(done, 8000);
    }

    CTestUiLoop loop;
    CRecordingTarget target;
    CRecordingBoxes boxes;
    CCommPort port;
    const int nPort = FreePort();
    const std::string strAddress = "127.0.0.1:" + std::to_string(nPort);
};

TEST_F(TcpLineTest, AListeningLineServesEachCallerAsASerialCallerWithDcd) {
    ASSERT_TRUE(SetUpLine("tcp-listen:" + std::to_string(nPort)));
    EXPECT_EQ(port.DescribeLine(), "tcp-listen:" + strAddress + ", no peer");
    port.QueueWrite("\x1b\x04\r"); // nobody to hear it: it goes nowhere
    loop.PumpFor(50);

    CPeer caller;
    ASSERT_TRUE(caller.Connect(nPort));
    ASSERT_TRUE(PumpUntil([&] { return Dcd() == "on "; }));
    ASSERT_EQ(Notes().size(), 1u);
    EXPECT_EQ(Notes()[0].rfind("   CONNECTION FROM 127.0.0.1:", 0), 0u) << Notes()[0];
    EXPECT_NE(port.DescribeLine().find(", peer 127.0.0.1:"), std::string::npos);
    caller.Send(std::string("\r\x02\x80\0", 4));
    ASSERT_TRUE(PumpUntil([&] { return target.ReceivedBytes().size() == 4; }));
    EXPECT_EQ(target.ReceivedBytes(),
              std::string("\r\x02\x80\0", 4)); // bytes are bytes
    port.QueueWrite("ID=");
    EXPECT_EQ(caller.Receive(3), "ID=");

    caller.Close(); // the caller hangs up: DCD drops, the line stays
    ASSERT_TRUE(PumpUntil([&] { return Dcd() == "on off "; }));
    EXPECT_FALSE(port.IsDeviceLost());
    EXPECT_EQ(Notes().back().rfind("   CONNECTION CLOSED BY 127.0.0.1:", 0), 0u);
    CPeer next; // served with no new set-up
    ASSERT_TRUE(next.Connect(nPort));
    ASSERT_TRUE(PumpUntil([&] { return Dcd() == "on off on "; }));
    next.Send("A");
    ASSERT_TRUE(PumpUntil([&] { return target.ReceivedBytes().size() == 5; }));
    EXPECT_TRUE(boxes.boxes.empty());
}

TEST_F(TcpLineTest, ASecondCallerWhileOneIsServedIsRefusedAtOnce) {
    ASSERT_TRUE(SetUpLine("tcp-listen:127.0.0.1:" + std::to_string(nPort)));
    CPeer first, second;
    ASSERT_TRUE(first.Connect(nPort));
    ASSERT_TRUE(PumpUntil([&] { return Dcd() == "on "; }));
    ASSERT_TRUE(second.Connect(nPort));
    EXPECT_TRUE(second.Ended());
    ASSERT_TRUE(PumpUntil([&] { return Notes().size() == 2; }));
    EXPECT_EQ(Notes()[1].rfind("   CONNECTION REFUSED: LINE BUSY (127.0.0.1:", 0), 0u);
    first.Send("X"); // never mixed: the first caller is still the line
    ASSERT_TRUE(PumpUntil([&] { return target.ReceivedBytes() == "X"; }));
    EXPECT_EQ(Dcd().find("off"), std::string::npos);
}

TEST_F(TcpLineTest, SettingUpAgainForTheSameEndpointKeepsTheCaller) {
    const std::string strValue = "tcp-listen:" + std::to_string(nPort);
    ASSERT_TRUE(SetUpLine(strValue));
    CPeer caller;
    ASSERT_TRUE(caller.Connect(nPort));
    ASSERT_TRUE(PumpUntil([&] { return Dcd() == "on "; }));
    ASSERT_TRUE(SetUpLine(strValue)); // Logon with unchanged settings
    EXPECT_EQ(port.QueryDcd(true), 1);
    port.QueueWrite("\x1b\x04\r");
    EXPECT_EQ(caller.Receive(3), "\x1b\x04\r");
    caller.Send("Y");
    ASSERT_TRUE(PumpUntil([&] { return target.ReceivedBytes() == "Y"; }));
}

TEST_F(TcpLineTest, ConnectingOutWaitsForTheServerAndFollowsItAway) {
    ASSERT_TRUE(SetUpLine("tcp:127.0.0.1:" + std::to_string(nPort)));
    ASSERT_TRUE(PumpUntil([&] { return !Notes().empty(); }));
    EXPECT_EQ(Notes()[0], "   CANNOT CONNECT TO " + strAddress +
                              ": CONNECTION REFUSED; TRYING AGAIN");
    EXPECT_EQ(port.DescribeLine(),
              "tcp:" + strAddress + ", not connected (Connection refused)");
    CPeer server; // a device server that comes up late
    server.Listen(nPort);
    ASSERT_TRUE(server.Accept());
    ASSERT_TRUE(PumpUntil([&] { return Dcd() == "on "; }));
    // One note for the whole outage, however many tries it took.
    EXPECT_EQ(Notes(),
              (std::vector<std::string>{"   CANNOT CONNECT TO " + strAddress +
                                            ": CONNECTION REFUSED; TRYING AGAIN",
                                        "   CONNECTED TO " + strAddress}));
    server.Send("\r");
    ASSERT_TRUE(PumpUntil([&] { return target.ReceivedBytes() == "\r"; }));
    port.QueueWrite("ID=");
    EXPECT_EQ(server.Receive(3), "ID=");

    server.Close(); // the device server drops the connection
    ASSERT_TRUE(PumpUntil([&] { return Dcd() == "on off "; }));
    ASSERT_TRUE(server.Accept()); // and the terminal comes back by itself
    ASSERT_TRUE(PumpUntil([&] { return Dcd() == "on off on "; }));
    EXPECT_TRUE(boxes.boxes.empty());
}

TEST_F(TcpLineTest, AWrongLogonPasswordIsNotedWithThePeerItCameFromButNotItself) {
    CPortHarness harness;
    CTerminalPort terminal(harness);
    harness.SetLine(&terminal);
    CPageTerminal& engine = terminal.Engine();
    terminal.Port().SetUiPoster(loop.Poster());
    terminal.SetMessageBoxes(&boxes);
    const std::string strValue = "tcp-listen:" + std::to_string(nPort);
    terminal.Port().SetDeviceResolver([strValue](int) { return strValue; });
    engine.SetLogonPassword("000000");
    engine.SetExplain(true);
    ASSERT_TRUE(terminal.Logon(&harness, TestLine(1)));
    CPeer caller;
    ASSERT_TRUE(caller.Connect(nPort));
    ASSERT_TRUE(PumpUntil([&] { return engine.GetState() == ST_WAITING_FOR_CR; }));
    caller.Send("\r");
    ASSERT_TRUE(
        PumpUntil([&] { return engine.GetState() == ST_SENDING_LOGON_PROMPT; }));
    // The line may first end a call it saw start before this one (ESC EOT
    // CR): what matters here is the prompt.
    std::string strSeen;
    while (strSeen.find("ID=") == std::string::npos) {
        const std::string strMore = caller.Receive(1);
        if (strMore.empty())
            break;
        strSeen += strMore;
    }
    ASSERT_NE(strSeen.find("ID="), std::string::npos) << strSeen;

    caller.Send("\x1bPG1SECRET99\r");
    const std::string strNote =
        "note   LOGON WITH A PASSWORD NOT ACCEPTED: NOT THE PASSWORD "
        "Password1 NAMES (FROM " +
        caller.LocalAddress() + ")";
    EXPECT_TRUE(PumpUntil([&] {
        return std::find(harness.timeline.begin(), harness.timeline.end(), strNote) !=
               harness.timeline.end();
    })) << strNote;
    EXPECT_EQ(engine.GetState(), ST_SENDING_LOGON_PROMPT);
    for (const std::string& strEntry : harness.timeline)
        EXPECT_EQ(strEntry.find("SECRET99"), std::string::npos) << strEntry;
    EXPECT_TRUE(boxes.boxes.empty());
}

TEST_F(TcpLineTest, BadValuesAreOpenFailuresThatSayWhy) {
    struct {
        std::string strValue;
        std::string strError;
    } cases[] = {
        {"tcp-listen:99999", "tcp-listen:99999: port must be a number from 1 to 65535"},
        {"tcp:host", "tcp:host: expected tcp:HOST:PORT"},
        {"tcp-listen:abc", "tcp-listen:abc: port must be a number from 1 to 65535"},
    };
    for (const auto& c : cases) {
        CCommPort line;
        line.SetMessageBoxes(&boxes);
        line.SetDeviceResolver([&](int) { return c.strValue; });
        EXPECT_FALSE(line.Setup(&target, TestLine(1)));
        EXPECT_EQ(line.GetOpenError(), c.strError);
    }
    // An address in use by someone else is an open failure too.
    CPeer other;
    other.Listen(nPort);
    EXPECT_FALSE(SetUpLine("tcp-listen:" + std::to_string(nPort)));
    EXPECT_EQ(port.GetOpenError(),
              "tcp-listen:" + std::to_string(nPort) + ": Address already in use");
    EXPECT_TRUE(boxes.boxes.empty());
}

TEST(TcpDeviceTest, ACallerThatSendsNothingIsDroppedAfterTheIdleLimit) {
    const int nPort = FreePort();
    CTcpDevice device;
    device.SetIdleLimit(std::chrono::milliseconds(300));
    ASSERT_EQ(device.Open("tcp-listen:" + std::to_string(nPort)), 0);
    CPeer caller;
    ASSERT_TRUE(caller.Connect(nPort));
    unsigned nStatus = 0;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (nStatus == 0 && std::chrono::steady_clock::now() < deadline) {
        device.Service();
        device.GetModemStatus(&nStatus);
        std::this_thread::yield();
    }
    ASSERT_NE(nStatus, 0u);
    // Data keeps it; then silence ends it.
    caller.Send("A");
    unsigned char buffer[8];
    int nWaiting = 0;
    while (nWaiting == 0 && std::chrono::steady_clock::now() < deadline)
        device.BytesWaiting(&nWaiting);
    ASSERT_EQ(device.Read(buffer, sizeof buffer), 1);
    while (nStatus != 0 && std::chrono::steady_clock::now() < deadline) {
        device.Service();
        device.GetModemStatus(&nStatus);
    }
    EXPECT_EQ(nStatus, 0u);
    EXPECT_TRUE(caller.Ended());
    std::vector<std::string> notes = device.TakeNotes();
    ASSERT_EQ(notes.size(), 2u);
    EXPECT_NE(notes[1].find(": CONNECTION CLOSED"), std::string::npos) << notes[1];
    EXPECT_EQ(notes[1].rfind("   NO DATA FROM 127.0.0.1:", 0), 0u) << notes[1];
}

TEST(TcpDeviceTest, ABurstOfCallersIsTakenAtOnceOneServedTheRestRefused) {
    // Callers that come faster than the line serves them must not wait for
    // a retry of their connection: each is taken, and all but one refused.
    const int nPort = FreePort();
    CTcpDevice device;
    ASSERT_EQ(device.Open("tcp-listen:" + std::to_string(nPort)), 0);
    constexpr int kCallers = 16;
    std::vector<int> fds;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<uint16_t>(nPort));
    for (int i = 0; i < kCallers; ++i) {
        int fd = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
        fds.push_back(fd);
    }
    // Before the line serves any: every connection completes.
    int nConnected = 0;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(3);
    while (nConnected < kCallers && std::chrono::steady_clock::now() < deadline) {
        nConnected = 0;
        for (int fd : fds) {
            pollfd pfd{fd, POLLOUT, 0};
            nConnected += poll(&pfd, 1, 0) == 1 && (pfd.revents & POLLOUT) ? 1 : 0;
        }
    }
    EXPECT_EQ(nConnected, kCallers);
    unsigned nStatus = 0;
    device.Service();
    device.GetModemStatus(&nStatus);
    EXPECT_NE(nStatus, 0u);
    int nRefused = 0;
    for (const std::string& strNote : device.TakeNotes())
        nRefused += strNote.find("CONNECTION REFUSED: LINE BUSY") != std::string::npos;
    EXPECT_EQ(nRefused, kCallers - 1);
    for (int fd : fds)
        close(fd);
}

TEST(TcpDeviceTest, APurgeDropsWhatTheCallerSentAndWasNotRead) {
    const int nPort = FreePort();
    CTcpDevice device;
    ASSERT_EQ(device.Open("tcp-listen:" + std::to_string(nPort)), 0);
    CPeer caller;
    ASSERT_TRUE(caller.Connect(nPort));
    caller.Send("STALE");
    int nWaiting = 0;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (nWaiting < 5 && std::chrono::steady_clock::now() < deadline) {
        unsigned nStatus;
        device.Service();
        device.GetModemStatus(&nStatus);
        device.BytesWaiting(&nWaiting);
    }
    ASSERT_EQ(nWaiting, 5);
    EXPECT_EQ(device.Flush(true, true), 0);
    device.BytesWaiting(&nWaiting);
    EXPECT_EQ(nWaiting, 0);
}

} // namespace
