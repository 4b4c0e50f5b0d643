#include "serial/DeviceList.h"
#include "tests/TempDir.h"

#include <filesystem>
#include <gtest/gtest.h>

namespace {

namespace fs = std::filesystem;

// A fake /dev and /sys: device nodes are plain files, by-id entries links.
class DeviceListTest : public ::testing::Test {
  protected:
    void SetUp() override {
        fs::create_directories(Dev("serial/by-id"));
        fs::create_directories(m_dir.Path("sys/class/tty"));
    }
    std::string Dev(const std::string& strName = "") const {
        return m_dir.Path("dev") + (strName.empty() ? "" : "/" + strName);
    }
    void Node(const std::string& strName) { CTempDir::Write(Dev(strName), ""); }
    void Uart(const std::string& strName, int nType) {
        Node(strName);
        fs::create_directories(m_dir.Path("sys/class/tty/" + strName));
        CTempDir::Write(m_dir.Path("sys/class/tty/" + strName + "/type"),
                        std::to_string(nType) + "\n");
    }
    void ById(const std::string& strLink, const std::string& strTarget) {
        fs::create_symlink("../../" + strTarget, Dev("serial/by-id/" + strLink));
    }
    std::vector<CDeviceChoice> List(const std::string& strCurrent = "") const {
        return CDeviceScanner(Dev(), m_dir.Path("sys")).List(strCurrent);
    }
    std::vector<std::string> Labels(const std::string& strCurrent = "") const {
        std::vector<std::string> labels;
        for (const CDeviceChoice& choice : List(strCurrent))
            labels.push_back(choice.strLabel);
        return labels;
    }

    CTempDir m_dir;
};

TEST_F(DeviceListTest, StableNamesFirstThenUsbAcmAndRealUartsInNumberOrder) {
    Uart("ttyS0", 4); // a 16550A
    Uart("ttyS1", 0); // no hardware behind it
    Node("ttyS2");    // no type in sysfs at all
    Uart("ttyS10", 4);
    Node("ttyUSB10");
    Node("ttyUSB2");
    Node("ttyACM0");
    fs::create_symlink("ttyUSB2", Dev("ttyUSB3")); // a link counts like a node
    Node("ttyUSBx");                               // not a numbered device
    Node("tty0");
    ById("usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0", "ttyUSB2");
    ById("usb-Prolific_PL2303-if00-port0", "ttyUSB10");

    EXPECT_EQ(Labels(), (std::vector<std::string>{
                            "usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0 (ttyUSB2)",
                            "usb-Prolific_PL2303-if00-port0 (ttyUSB10)", Dev("ttyUSB2"),
                            Dev("ttyUSB3"), Dev("ttyUSB10"), Dev("ttyACM0"),
                            Dev("ttyS0"), Dev("ttyS10")}));
    const std::vector<CDeviceChoice> choices = List();
    EXPECT_EQ(choices[0].strPath,
              Dev("serial/by-id/usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0"));
    EXPECT_EQ(choices[2].strPath, Dev("ttyUSB2"));
}

TEST_F(DeviceListTest, AStaleByIdLinkOfAnUnpluggedAdapterIsLeftOut) {
    ById("usb-gone-if00-port0", "ttyUSB7");
    EXPECT_TRUE(List().empty());
}

TEST_F(DeviceListTest, TheStoredDeviceIsListedEvenWhenAbsentAndMarked) {
    Node("ttyUSB0");
    Uart("ttyS0", 0);
    // Present and listed already: not twice.
    EXPECT_EQ(Labels(Dev("ttyUSB0")), (std::vector<std::string>{Dev("ttyUSB0")}));
    EXPECT_EQ(
        Labels(Dev("ttyUSB5")),
        (std::vector<std::string>{Dev("ttyUSB0"), Dev("ttyUSB5") + " (not present)"}));
    EXPECT_EQ(
        Labels(Dev("ttyS0")),
        (std::vector<std::string>{Dev("ttyUSB0"), Dev("ttyS0") + " (no UART found)"}));
    // A network line is no path: listed as it is.
    EXPECT_EQ(Labels("tcp-listen:5000").back(), "tcp-listen:5000");
    EXPECT_EQ(List(Dev("ttyUSB5")).back().strPath, Dev("ttyUSB5"));
}

TEST_F(DeviceListTest, AChosenLabelMeansItsPathAndTypedTextIsKept) {
    Node("ttyUSB0");
    ById("usb-FTDI-if00-port0", "ttyUSB0");
    const std::vector<CDeviceChoice> choices = List(Dev("ttyS3"));
    EXPECT_EQ(DevicePathForText(choices, "usb-FTDI-if00-port0 (ttyUSB0)"),
              Dev("serial/by-id/usb-FTDI-if00-port0"));
    EXPECT_EQ(DevicePathForText(choices, Dev("ttyS3") + " (not present)"),
              Dev("ttyS3"));
    EXPECT_EQ(DevicePathForText(choices, "/dev/my-line"), "/dev/my-line");
}

TEST_F(DeviceListTest, NoDevFolderGivesOnlyTheStoredValue) {
    CDeviceScanner scanner(m_dir.Path("none"), m_dir.Path("none"));
    EXPECT_TRUE(scanner.List("").empty());
    ASSERT_EQ(scanner.List("/dev/ttyS0").size(), 1u);
}

} // namespace
