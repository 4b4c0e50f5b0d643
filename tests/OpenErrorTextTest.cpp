#include "serial/OpenErrorText.h"
#include "serial/TermiosDevice.h"
#include "tests/TempDir.h"
#include "tests/TestSupport.h"

#include <cerrno>
#include <fcntl.h>
#include <filesystem>
#include <grp.h>
#include <gtest/gtest.h>
#include <unistd.h>

namespace {

class CFakeLookup : public ISystemLookup {
  public:
    bool bNodeSeen = true;
    std::string strGroup = "dialout";
    bool bProcessInGroup = false;
    bool bListed = false;
    std::string strUser = "alice";
    std::vector<CDeviceHolder> holders;
    std::string strAskedPath;

    bool DeviceGroup(const std::string& strPath, std::string* pstrGroup) override {
        strAskedPath = strPath;
        *pstrGroup = strGroup;
        return bNodeSeen;
    }
    bool ProcessInGroup(const std::string&) override { return bProcessInGroup; }
    bool UserListedInGroup(const std::string&) override { return bListed; }
    std::string UserName() override { return strUser; }
    std::vector<CDeviceHolder> DeviceHolders(const std::string& strPath) override {
        strAskedPath = strPath;
        return holders;
    }
};

TEST(OpenErrorTextTest, PermissionDeniedNamesTheGroupTheUserAndTheCommand) {
    for (int nError : {EACCES, EPERM}) {
        CFakeLookup lookup;
        const std::string strText = OpenErrorText("/dev/ttyUSB0", nError, lookup);
        EXPECT_EQ(lookup.strAskedPath, "/dev/ttyUSB0");
        EXPECT_EQ(
            strText.rfind("/dev/ttyUSB0: " + std::string(strerror(nError)) + "\n", 0),
            0u)
            << strText;
        EXPECT_NE(
            strText.find("belongs to the group dialout, and you (alice) are not in it"),
            std::string::npos)
            << strText;
        EXPECT_NE(strText.find("\n  sudo usermod -aG dialout $USER\n"),
                  std::string::npos);
        EXPECT_NE(strText.find("log in again"), std::string::npos);
    }
}

TEST(OpenErrorTextTest, TheCommandNamesTheDevicesOwnGroup) {
    CFakeLookup lookup;
    lookup.strGroup = "uucp";
    const std::string strText = OpenErrorText("/dev/ttyS1", EACCES, lookup);
    EXPECT_NE(strText.find("sudo usermod -aG uucp $USER"), std::string::npos)
        << strText;
    EXPECT_EQ(strText.find("dialout"), std::string::npos) << strText;
}

TEST(OpenErrorTextTest, PermissionAdviceFitsWhatTheUserAlreadyHas) {
    CFakeLookup added;
    added.bListed = true; // in /etc/group, but this session predates it
    std::string strText = OpenErrorText("/dev/ttyUSB0", EACCES, added);
    EXPECT_NE(strText.find("You (alice) were added to it"), std::string::npos)
        << strText;
    EXPECT_NE(strText.find("log out and log in again"), std::string::npos);
    EXPECT_EQ(strText.find("usermod"), std::string::npos) << strText;

    CFakeLookup inGroup;
    inGroup.bProcessInGroup = true;
    strText = OpenErrorText("/dev/ttyUSB0", EACCES, inGroup);
    EXPECT_NE(strText.find("you (alice) are in it"), std::string::npos) << strText;
    EXPECT_NE(strText.find("ls -l /dev/ttyUSB0"), std::string::npos);
    EXPECT_EQ(strText.find("usermod"), std::string::npos) << strText;

    // Nobody should be told to join the root group.
    CFakeLookup rootOnly;
    rootOnly.strGroup = "root";
    strText = OpenErrorText("/dev/ttyS0", EACCES, rootOnly);
    EXPECT_NE(strText.find("belongs to root alone"), std::string::npos) << strText;
    EXPECT_EQ(strText.find("usermod"), std::string::npos) << strText;

    // The node cannot be looked at: the usual group is named as a guess.
    CFakeLookup unseen;
    unseen.bNodeSeen = false;
    strText = OpenErrorText("/dev/ttyUSB0", EACCES, unseen);
    EXPECT_NE(strText.find("sudo usermod -aG dialout $USER"), std::string::npos)
        << strText;
}

TEST(OpenErrorTextTest, BusyNamesTheHoldersWhenProcTells) {
    CFakeLookup lookup;
    EXPECT_EQ(OpenErrorText("/dev/ttyUSB0", EBUSY, lookup),
              "/dev/ttyUSB0: " + std::string(strerror(EBUSY)) +
                  "\nIt is in use by another program.");
    lookup.holders = {{4242, "minicom"}};
    EXPECT_EQ(OpenErrorText("/dev/ttyUSB0", EBUSY, lookup),
              "/dev/ttyUSB0: " + std::string(strerror(EBUSY)) +
                  "\nIt is in use by minicom (process 4242).");
    lookup.holders = {{1, "a"}, {2, ""}, {3, "c"}};
    std::string strText = OpenErrorText("/dev/ttyUSB0", EBUSY, lookup);
    EXPECT_NE(strText.find(
                  "in use by a (process 1), a program (process 2) and c (process 3)."),
              std::string::npos)
        << strText;
}

TEST(OpenErrorTextTest, OtherFailuresAreThePathAndTheSystemText) {
    CFakeLookup lookup;
    for (int nError : {ENOENT, EIO, ENXIO, 0x7fff}) {
        lookup.strAskedPath.clear();
        const std::string strText = OpenErrorText("/dev/ttyACM0", nError, lookup);
        EXPECT_EQ(strText.find('\n'), std::string::npos) << strText;
        EXPECT_EQ(strText.rfind("/dev/ttyACM0: ", 0), 0u) << strText;
        EXPECT_GT(strText.size(), std::string("/dev/ttyACM0: ").size());
        EXPECT_EQ(lookup.strAskedPath, "") << "no lookup for an unrelated failure";
    }
}

// The real lookups, on files of this test's own.
TEST(SystemLookupTest, ReadsTheGroupOfTheNodeThroughLinks) {
    CTempDir dir;
    CTempDir::Write(dir.Path("ttyFAKE0"), "");
    std::filesystem::create_symlink(dir.Path("ttyFAKE0"), dir.Path("by-id-link"));
    CSystemLookup lookup;
    std::string strGroup;
    ASSERT_TRUE(lookup.DeviceGroup(dir.Path("by-id-link"), &strGroup));
    const group* pGroup = getgrgid(getegid());
    ASSERT_NE(pGroup, nullptr);
    EXPECT_EQ(strGroup, pGroup->gr_name);
    EXPECT_TRUE(lookup.ProcessInGroup(strGroup));
    EXPECT_FALSE(lookup.ProcessInGroup("volnex-no-such-group"));
    EXPECT_FALSE(lookup.DeviceGroup(dir.Path("missing"), &strGroup));
    EXPECT_FALSE(lookup.UserName().empty());
}

TEST(SystemLookupTest, FindsThisProcessHoldingADeviceThroughProc) {
    CTempDir dir;
    CTempDir::Write(dir.Path("ttyFAKE1"), "");
    std::filesystem::create_symlink(dir.Path("ttyFAKE1"), dir.Path("link"));
    CSystemLookup lookup;
    EXPECT_TRUE(lookup.DeviceHolders(dir.Path("link")).empty());
    int fd = open(dir.Path("ttyFAKE1").c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    const std::vector<CDeviceHolder> holders = lookup.DeviceHolders(dir.Path("link"));
    close(fd);
    ASSERT_EQ(holders.size(), 1u);
    EXPECT_EQ(holders[0].nPid, getpid());
    EXPECT_FALSE(holders[0].strName.empty());
    EXPECT_TRUE(lookup.DeviceHolders(dir.Path("missing")).empty());
}

TEST(SystemLookupTest, ABusyTerminalNamesTheProgramThatHoldsIt) {
    CPtyPair pty;
    CTermiosDevice first, second;
    ASSERT_EQ(first.Open(pty.SlavePath()), 0);
    const int nError = second.Open(pty.SlavePath());
    ASSERT_EQ(nError, EBUSY);
    const std::string strText = OpenErrorText(pty.SlavePath(), nError);
    EXPECT_NE(strText.find("It is in use by "), std::string::npos) << strText;
    EXPECT_NE(strText.find("(process " + std::to_string(getpid()) + ")"),
              std::string::npos)
        << strText;
}

} // namespace
