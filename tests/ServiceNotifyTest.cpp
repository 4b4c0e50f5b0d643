#include "headless/ServiceNotify.h"
#include "tests/TempDir.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <sys/socket.h>
#include <sys/un.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

// A notify socket of the test's own, where systemd's would be.
class ServiceNotifyTest : public ::testing::Test {
  protected:
    CTempDir dir;
    int fd = -1;
    void SetUp() override {
        fd = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
        ASSERT_GE(fd, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        const std::string strPath = dir.Path("notify");
        ASSERT_LT(strPath.size(), sizeof(address.sun_path));
        strPath.copy(address.sun_path, strPath.size());
        ASSERT_EQ(bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)), 0);
        setenv("NOTIFY_SOCKET", strPath.c_str(), 1);
        setenv("WATCHDOG_USEC", "200000", 1); // 200 ms
        setenv("WATCHDOG_PID", std::to_string(getpid()).c_str(), 1);
    }
    void TearDown() override {
        unsetenv("NOTIFY_SOCKET");
        unsetenv("WATCHDOG_USEC");
        unsetenv("WATCHDOG_PID");
        if (fd >= 0)
            close(fd);
    }
    std::vector<std::string> Received() {
        std::vector<std::string> messages;
        char buffer[1024];
        for (;;) {
            const ssize_t n = recv(fd, buffer, sizeof(buffer), 0);
            if (n <= 0)
                return messages;
            messages.emplace_back(buffer, static_cast<size_t>(n));
        }
    }
};

TEST_F(ServiceNotifyTest, ReadyOnceAndAStatusOnlyWhenItChanges) {
    CServiceNotify notify;
    notify.Ready();
    notify.Ready();
    notify.Status("port 1 WAITING FOR CR");
    notify.Status("port 1 WAITING FOR CR");
    notify.Stopping();
    EXPECT_EQ(Received(),
              (std::vector<std::string>{"READY=1", "STATUS=port 1 WAITING FOR CR",
                                        "STOPPING=1"}));
}

TEST_F(ServiceNotifyTest, AStalledTickSendsNoKeepAlive) {
    CServiceNotify notify;
    notify.WatchdogTick();
    EXPECT_EQ(Received(), std::vector<std::string>{"WATCHDOG=1"});
    // Ticks closer than half the interval send nothing more.
    notify.WatchdogTick();
    EXPECT_TRUE(Received().empty());
    // The tick stalls well past the interval: nothing is sent meanwhile.
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_TRUE(Received().empty());
    // The tick runs again: so does the keep-alive.
    notify.WatchdogTick();
    EXPECT_EQ(Received(), std::vector<std::string>{"WATCHDOG=1"});
}

TEST(ServiceNotifyWithoutSystemdTest, EveryCallIsHarmless) {
    unsetenv("NOTIFY_SOCKET");
    CServiceNotify notify;
    notify.Ready();
    notify.Status("x");
    notify.WatchdogTick();
    notify.Stopping();
}

TEST(ServiceStatusLineTest, SaysPagesPendingAndAlertsOnOneLine) {
    CStatusSnapshot snapshot;
    CPortStatus port;
    port.strState = "WAITING FOR PAGE ";
    port.pages = {{"accepted", 11}, {"bad-checksum", 1}};
    snapshot.ports.push_back(port);
    snapshot.bOutbox = true;
    CTargetMetrics target;
    target.nPending = 3;
    snapshot.targets.push_back(target);
    EXPECT_EQ(ServiceStatusLine(snapshot),
              "port 1 WAITING FOR PAGE, 12 pages (11 accepted), 3 pending, no alerts");
    CActiveAlert alert;
    alert.strText = std::string(1000, 'x');
    snapshot.alerts.push_back(alert);
    const std::string strLine = ServiceStatusLine(snapshot);
    EXPECT_LE(strLine.size(), 400u);
    EXPECT_EQ(strLine.find('\n'), std::string::npos);
}

} // namespace
