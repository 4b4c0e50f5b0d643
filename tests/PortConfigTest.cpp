#include "settings/PortConfig.h"
#include "serial/DeviceList.h"
#include "tests/TempDir.h"

#include <filesystem>
#include <gtest/gtest.h>

namespace {

class PortConfigTest : public ::testing::Test {
  protected:
    CTempDir dir;
    std::string path = dir.Path("volnex.INI");
    CIniProfile profile{path};
    void Given(const std::string& strEntries) {
        CTempDir::Write(path, "[Configuration]\n" + strEntries);
    }
};

TEST_F(PortConfigTest, AnEmptyProfileGivesTheDefaults) {
    CPortConfig config(profile);
    EXPECT_EQ(config.GetCommPort(), "COM1");
    EXPECT_EQ(config.GetBaudRate(), "9600");
    EXPECT_EQ(config.GetParity(), "None");
    EXPECT_EQ(config.GetStopBits(), "1");
    EXPECT_EQ(config.GetDataBits(), "8");
    EXPECT_EQ(config.m_nPort, 1);
    EXPECT_EQ(config.m_nBaudRate, 9600);
    EXPECT_EQ(config.m_chParity, 'N');
    EXPECT_EQ(config.m_nStopBits, 1);
    EXPECT_EQ(config.m_nDataBits, 8);
    EXPECT_EQ(config.GetRTS(), 1);
    EXPECT_EQ(config.GetDTR(), 1);
    EXPECT_EQ(config.GetCTS(), 0);
    EXPECT_EQ(config.GetDSR(), 0);
    EXPECT_EQ(config.GetDevicePath(1), "/dev/ttyS0");
    EXPECT_EQ(config.GetDevicePath(4), "/dev/ttyS3");
}

TEST_F(PortConfigTest, ReadsOnlyTheKeysOfThePortInUse) {
    Given("CommPort=COM3\nBaudRate1=1200\n");
    CPortConfig config(profile);
    EXPECT_EQ(config.m_nPort, 3);
    EXPECT_EQ(config.GetBaudRate(), "9600"); // port 3's default, not port 1's value
}

TEST_F(PortConfigTest, PortNumberIsTheLastCharacterMinus48) {
    struct {
        const char* szPort;
        int nPort;
    } cases[] = {{"COM10", 0}, {"com2", 2}, {"COM4", 4}, {"", 0}, {"COMX", 40}};
    for (const auto& c : cases) {
        Given(std::string("CommPort=") + c.szPort + "\nBaudRate0=300\n");
        CPortConfig config(profile);
        EXPECT_EQ(config.m_nPort, c.nPort) << c.szPort;
    }
    Given("CommPort=COM10\nBaudRate0=300\n");
    EXPECT_EQ(CPortConfig(profile).GetBaudRate(), "300"); // BaudRate0 is read
}

TEST_F(PortConfigTest, PresentButEmptyValuesAreNotDefaults) {
    Given("CommPort=COM2\nParity2=\nRTS2=\nBaudRate2=fast\n");
    CPortConfig config(profile);
    EXPECT_EQ(config.GetParity(), "");
    EXPECT_EQ(config.m_chParity, '\0');
    EXPECT_EQ(config.GetRTS(), 0); // Disable, not the default Enable
    EXPECT_EQ(config.m_nBaudRate, 0);
    EXPECT_EQ(config.GetBaudRate(), "fast");
    Given("CommPort=COM2\nParity2=Odd\n");
    EXPECT_EQ(CPortConfig(profile).m_chParity, 'O');
}

TEST_F(PortConfigTest, SettersWriteUnderTheGivenPortAndKeepTheLoadedText) {
    CPortConfig config(profile);
    config.SetBaudRate(2, "2400");
    EXPECT_EQ(profile.GetString("Configuration", "BaudRate2", ""), "2400");
    EXPECT_EQ(profile.GetString("Configuration", "BaudRate1", "none"), "none");
    EXPECT_EQ(config.m_nBaudRate, 2400);
    EXPECT_EQ(config.GetBaudRate(), "9600"); // port 1's loaded text
    config.SetRTS(1, 3);
    EXPECT_EQ(CTempDir::Read(path), "[Configuration]\nBaudRate2=2400\nRTS1=3\n");
    EXPECT_EQ(config.GetRTS(), 3);
    config.SetParity(1, "Even");
    config.SetDataBits(1, "7");
    config.SetStopBits(1, "2");
    config.SetDTR(1, 0);
    config.SetCTS(1, 1);
    config.SetDSR(1, 1);
    EXPECT_EQ(config.m_chParity, 'E');
    EXPECT_EQ(config.m_nDataBits, 7);
    EXPECT_EQ(config.m_nStopBits, 2);
    EXPECT_EQ(config.GetParity(), "None");
    config.Load();
    EXPECT_EQ(config.GetParity(), "Even");
    EXPECT_EQ(config.GetDTR(), 0);
    EXPECT_EQ(config.GetCTS(), 1);
    EXPECT_EQ(config.GetDSR(), 1);
}

TEST_F(PortConfigTest, SetCommPortKeepsTheOtherFields) {
    Given("BaudRate1=1200\nRTS1=0\n");
    CPortConfig config(profile);
    config.SetCommPort("COM2");
    EXPECT_EQ(profile.GetString("Configuration", "CommPort", ""), "COM2");
    EXPECT_EQ(config.GetCommPort(), "COM2");
    EXPECT_EQ(config.m_nPort, 2);
    EXPECT_EQ(config.GetBaudRate(), "1200");
    EXPECT_EQ(config.GetRTS(), 0);
}

TEST_F(PortConfigTest, RecordsSeeEachOthersWritesOnlyAfterLoad) {
    CPortConfig first(profile);
    CPortConfig second(profile);
    first.SetBaudRate(1, "300");
    EXPECT_EQ(second.GetBaudRate(), "9600");
    second.Load();
    EXPECT_EQ(second.GetBaudRate(), "300");
    EXPECT_EQ(CPortConfig(profile).GetBaudRate(), "300");
}

TEST_F(PortConfigTest, KeysAreStemAndUnsignedPortNumber) {
    EXPECT_EQ(CPortConfig::PortKey("BaudRate", 1), "BaudRate1");
    EXPECT_EQ(CPortConfig::PortKey("DSR", 4), "DSR4");
    EXPECT_EQ(CPortConfig::PortKey("RTS", static_cast<uint8_t>(-15)), "RTS241");
}

TEST_F(PortConfigTest, DevicePathIsKeptPerPort) {
    CPortConfig config(profile);
    config.SetDevicePath(2, "/dev/ttyUSB0");
    EXPECT_EQ(config.GetDevicePath(2), "/dev/ttyUSB0");
    EXPECT_EQ(config.GetDevicePath(1), "/dev/ttyS0");
    EXPECT_EQ(profile.GetString("Configuration", "Device2", ""), "/dev/ttyUSB0");
    EXPECT_EQ(config.GetDevicePath(0), ""); // COM10 and such have no default
}

TEST_F(PortConfigTest, TheTestBenchIsOffUnlessThePortInUseHasIt) {
    Given("CommPort=COM2\nMisbehave1=nak-every:2\nDiagnose1=1\n");
    CPortConfig config(profile);
    EXPECT_EQ(config.GetMisbehave(), "");
    EXPECT_EQ(config.GetDiagnose(), 0);
    config.SetMisbehave(2, "delay:9000");
    config.SetDiagnose(2, 1);
    EXPECT_EQ(profile.GetString("Configuration", "Misbehave2", ""), "delay:9000");
    config.Load();
    EXPECT_EQ(config.GetMisbehave(), "delay:9000");
    EXPECT_EQ(config.GetDiagnose(), 1);
}

// The text of a device that did not open, on a machine of fakes: a /dev
// whose ttyS nodes are plain files and a /sys that tells their UARTs.
class OpenErrorSettingTest : public PortConfigTest {
  protected:
    void Uart(int nNumber, int nType) {
        const std::string strName = "ttyS" + std::to_string(nNumber);
        std::filesystem::create_directories(dir.Path("dev"));
        std::filesystem::create_directories(dir.Path("sys/class/tty/" + strName));
        CTempDir::Write(dir.Path("dev/" + strName), "");
        CTempDir::Write(dir.Path("sys/class/tty/" + strName + "/type"),
                        std::to_string(nType) + "\n");
    }
    // What the box says after its first line, for the port in use.
    std::string Explain(const std::string& strReason) {
        CPortConfig config(profile);
        return config.ExplainOpenError(
            config.m_nPort, config.GetDevicePath(config.m_nPort), strReason,
            CDeviceScanner(dir.Path("dev"), dir.Path("sys")));
    }
};

TEST_F(OpenErrorSettingTest, ACommPortThatNamesNoPortSaysWhichPortsThereAre) {
    Uart(0, 4);
    Uart(1, 4);
    Uart(2, 0);  // a node with no UART behind it
    Uart(12, 4); // a UART no COM name reaches
    Given("CommPort=COM0\n");
    // The system's text about an empty path says nothing: it goes.
    EXPECT_EQ(Explain(": No such file or directory"),
              "CommPort=COM0 names no port (COM1 to COM4); this machine has COM1 "
              "(/dev/ttyS0) and COM2 (/dev/ttyS1).");
    Given("CommPort=\n");
    EXPECT_EQ(
        Explain(": No such file or directory"),
        "CommPort is empty: it names no port (COM1 to COM4); this machine has COM1 "
        "(/dev/ttyS0) and COM2 (/dev/ttyS1).");
}

TEST_F(OpenErrorSettingTest, ACommPortWithNoSerialPortHereSaysSoAfterTheSystemText) {
    Uart(0, 4);
    Given("CommPort=COM9\n");
    EXPECT_EQ(Explain("/dev/ttyS8: No such file or directory"),
              "/dev/ttyS8: No such file or directory\n"
              "CommPort=COM9 is /dev/ttyS8, which is no serial port here; this machine "
              "has COM1 (/dev/ttyS0).");
    Given("CommPort=COM1\n");
    std::filesystem::remove(dir.Path("sys/class/tty/ttyS0/type"));
    EXPECT_NE(
        Explain("/dev/ttyS0: Input/output error").find("this machine has no COM port"),
        std::string::npos);
}

TEST_F(OpenErrorSettingTest, ADeviceThatCannotBeAPathIsNamedWithItsKey) {
    Given("Device1=\n");
    EXPECT_EQ(Explain(": No such file or directory"),
              "Device1 is empty: it names no device for COM1.");
    Given("CommPort=COM2\nDevice2=/dev/tty\x1bUSB0\n");
    EXPECT_EQ(Explain("/dev/tty\x1bUSB0: No such file or directory"),
              "Device2=/dev/tty<ESC>USB0 holds a control character (<ESC>).");
}

TEST_F(OpenErrorSettingTest, AUsableSettingKeepsTheSystemTextAndNamesItsKey) {
    Uart(0, 4);
    Given("Device1=/dev/ttyUSB0\n");
    EXPECT_EQ(
        Explain("/dev/ttyUSB0: Permission denied\nThe device belongs to dialout."),
        "/dev/ttyUSB0: Permission denied\nThe device belongs to dialout.\n"
        "Device1=/dev/ttyUSB0 is the device of COM1.");
    Given("CommPort=COM1\n");
    EXPECT_EQ(Explain("/dev/ttyS0: Device or resource busy"),
              "/dev/ttyS0: Device or resource busy\nCommPort=COM1 is /dev/ttyS0.");
}

} // namespace
