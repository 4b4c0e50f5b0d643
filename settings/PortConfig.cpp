#include "settings/PortConfig.h"

#include "engine/ControlNames.h"
#include "serial/DeviceList.h"
#include "settings/ShownValue.h"

#include <algorithm>
#include <vector>

namespace {

constexpr const char* kCommPort = "CommPort";
constexpr const char* kBaudRate = "BaudRate";
constexpr const char* kParity = "Parity";
constexpr const char* kStopBits = "StopBits";
constexpr const char* kDataBits = "DataBits";
constexpr const char* kRts = "RTS";
constexpr const char* kDtr = "DTR";
constexpr const char* kCts = "CTS";
constexpr const char* kDsr = "DSR";
constexpr const char* kDevice = "Device";
constexpr const char* kMisbehave = "Misbehave";
constexpr const char* kDiagnose = "Diagnose";
constexpr const char* kPassword = "Password";
constexpr const char* kLogFolder = "LogFolder";
constexpr const char* kCharset = "Charset";
constexpr const char* kResponses = "Responses";
constexpr const char* kAnswerWhen = "AnswerWhen";
constexpr const char* kDeliveryWait = "DeliveryWait";
constexpr const char* kStateFolder = "StateFolder";
constexpr const char* kKeepDays = "KeepDays";

// The port is the last character of its name: COM1 to COM9 name one (the
// program offers COM1 to COM4).
constexpr int kLastPortNamed = 9;
constexpr const char* kPortsOffered = "COM1 to COM4";

// A value as a box quotes it, its control characters by name.
std::string Spelled(const std::string& strValue) {
    return ShownValue(WithControlNames(strValue));
}

// The name of the first control character of the text; empty for none.
std::string FirstControlName(const std::string& strText) {
    for (char ch : strText) {
        if (const char* szName = ControlName(static_cast<unsigned char>(ch)))
            return szName;
    }
    return std::string();
}

// The COM ports of this machine, in order: n where /dev/ttyS(n-1) is there
// with a UART behind it, for the n a COM name can reach.
std::vector<int> ComPortsHere(const CDeviceScanner& scanner) {
    std::vector<int> ports;
    for (const CDeviceChoice& choice : scanner.List(std::string())) {
        const std::string strName =
            choice.strPath.substr(choice.strPath.rfind('/') + 1);
        if (strName.size() == 5 && strName.compare(0, 4, "ttyS") == 0 &&
            strName[4] >= '0' && strName[4] < '0' + kLastPortNamed)
            ports.push_back(strName[4] - '0' + 1);
    }
    return ports;
}

// "this machine has COM1 (/dev/ttyS0) and COM2 (/dev/ttyS1)"
std::string ComPortsText(const std::vector<int>& ports) {
    if (ports.empty())
        return "this machine has no COM port (a USB adapter goes in Device1, such as "
               "/dev/ttyUSB0)";
    std::string strText = "this machine has ";
    for (size_t i = 0; i < ports.size(); ++i) {
        if (i > 0)
            strText += i + 1 == ports.size() ? " and " : ", ";
        strText += "COM" + std::to_string(ports[i]) + " (" +
                   CPortConfig::DefaultDevicePath(ports[i]) + ")";
    }
    return strText;
}

} // namespace

CPortConfig::CPortConfig(IProfile& profile) : m_profile(profile) {
    Load();
}

int CPortConfig::PortNumberOf(const std::string& strPort) {
    // The character code of the last character minus that of '0': "COM3"
    // gives 3, "COM10" gives 0. An empty text has no port: 0.
    if (strPort.empty())
        return 0;
    return static_cast<unsigned char>(strPort.back()) - 48;
}

std::string CPortConfig::PortKey(const std::string& strStem, uint8_t nPort) {
    return strStem + std::to_string(static_cast<unsigned>(nPort));
}

void CPortConfig::Load() {
    m_strCommPort = m_profile.GetString(kSection, kCommPort, "COM1");
    m_nPort = PortNumberOf(m_strCommPort);
    const uint8_t n = static_cast<uint8_t>(m_nPort);
    m_strBaudRate = m_profile.GetString(kSection, PortKey(kBaudRate, n), "9600");
    m_strParity = m_profile.GetString(kSection, PortKey(kParity, n), "None");
    m_strStopBits = m_profile.GetString(kSection, PortKey(kStopBits, n), "1");
    m_strDataBits = m_profile.GetString(kSection, PortKey(kDataBits, n), "8");
    m_nRTS = m_profile.GetInt(kSection, PortKey(kRts, n), 1);
    m_nDTR = m_profile.GetInt(kSection, PortKey(kDtr, n), 1);
    m_nCTS = m_profile.GetInt(kSection, PortKey(kCts, n), 0);
    m_nDSR = m_profile.GetInt(kSection, PortKey(kDsr, n), 0);
    m_strMisbehave = m_profile.GetString(kSection, PortKey(kMisbehave, n), "");
    m_nDiagnose = m_profile.GetInt(kSection, PortKey(kDiagnose, n), 0);
    m_strPassword = m_profile.GetString(kSection, PortKey(kPassword, n), "");
    m_strLogFolder = m_profile.GetString(kSection, PortKey(kLogFolder, n), "");
    m_strCharset = m_profile.GetString(kSection, PortKey(kCharset, n), "");
    m_strResponses = m_profile.GetString(kSection, PortKey(kResponses, n), "");
    m_strAnswerWhen = m_profile.GetString(kSection, PortKey(kAnswerWhen, n), "");
    m_strDeliveryWait = m_profile.GetString(kSection, PortKey(kDeliveryWait, n), "");
    m_strStateFolder = m_profile.GetString(kSection, kStateFolder, "");
    m_strKeepDays = m_profile.GetString(kSection, kKeepDays, "");

    m_nBaudRate = DecimalValue(m_strBaudRate);
    m_chParity = m_strParity.empty() ? '\0' : m_strParity[0];
    m_nStopBits = DecimalValue(m_strStopBits);
    m_nDataBits = DecimalValue(m_strDataBits);
}

void CPortConfig::SetCommPort(const std::string& strPort) {
    m_profile.WriteString(kSection, kCommPort, strPort);
    m_strCommPort = strPort;
    m_nPort = PortNumberOf(strPort);
}

void CPortConfig::SetBaudRate(uint8_t nPort, const std::string& strValue) {
    m_profile.WriteString(kSection, PortKey(kBaudRate, nPort), strValue);
    m_nBaudRate = DecimalValue(strValue);
}

void CPortConfig::SetDataBits(uint8_t nPort, const std::string& strValue) {
    m_profile.WriteString(kSection, PortKey(kDataBits, nPort), strValue);
    m_nDataBits = DecimalValue(strValue);
}

void CPortConfig::SetParity(uint8_t nPort, const std::string& strValue) {
    m_profile.WriteString(kSection, PortKey(kParity, nPort), strValue);
    m_chParity = strValue.empty() ? '\0' : strValue[0];
}

void CPortConfig::SetStopBits(uint8_t nPort, const std::string& strValue) {
    m_profile.WriteString(kSection, PortKey(kStopBits, nPort), strValue);
    m_nStopBits = DecimalValue(strValue);
}

void CPortConfig::SetRTS(uint8_t nPort, int nValue) {
    m_profile.WriteInt(kSection, PortKey(kRts, nPort), nValue);
    m_nRTS = nValue;
}

void CPortConfig::SetDTR(uint8_t nPort, int nValue) {
    m_profile.WriteInt(kSection, PortKey(kDtr, nPort), nValue);
    m_nDTR = nValue;
}

void CPortConfig::SetCTS(uint8_t nPort, int nValue) {
    m_profile.WriteInt(kSection, PortKey(kCts, nPort), nValue);
    m_nCTS = nValue;
}

void CPortConfig::SetDSR(uint8_t nPort, int nValue) {
    m_profile.WriteInt(kSection, PortKey(kDsr, nPort), nValue);
    m_nDSR = nValue;
}

std::string CPortConfig::DefaultDevicePath(int nPort) {
    return nPort >= 1 ? "/dev/ttyS" + std::to_string(nPort - 1) : std::string();
}

std::string CPortConfig::GetDevicePath(int nPort) const {
    return m_profile.GetString(kSection, PortKey(kDevice, static_cast<uint8_t>(nPort)),
                               DefaultDevicePath(nPort));
}

void CPortConfig::SetDevicePath(uint8_t nPort, const std::string& strPath) {
    m_profile.WriteString(kSection, PortKey(kDevice, nPort), strPath);
}

void CPortConfig::SetMisbehave(uint8_t nPort, const std::string& strValue) {
    m_profile.WriteString(kSection, PortKey(kMisbehave, nPort), strValue);
    m_strMisbehave = strValue;
}

void CPortConfig::SetPassword(uint8_t nPort, const std::string& strValue) {
    m_profile.WriteString(kSection, PortKey(kPassword, nPort), strValue);
    m_strPassword = strValue;
}

void CPortConfig::SetLogFolder(uint8_t nPort, const std::string& strValue) {
    m_profile.WriteString(kSection, PortKey(kLogFolder, nPort), strValue);
    m_strLogFolder = strValue;
}

void CPortConfig::SetResponses(uint8_t nPort, const std::string& strValue) {
    m_profile.WriteString(kSection, PortKey(kResponses, nPort), strValue);
    m_strResponses = strValue;
}

void CPortConfig::SetDiagnose(uint8_t nPort, int nValue) {
    m_profile.WriteInt(kSection, PortKey(kDiagnose, nPort), nValue);
    m_nDiagnose = nValue;
}

std::string CPortConfig::ExplainOpenError(int nPort, const std::string& strPath,
                                          const std::string& strReason,
                                          const CDeviceScanner& scanner) const {
    const std::string strPort = Spelled(m_strCommPort);
    const std::string strDeviceKey = PortKey(kDevice, static_cast<uint8_t>(nPort));
    // No stored value holds a line end: this default tells a missing key.
    const bool bDeviceKey = m_profile.GetString(kSection, strDeviceKey, "\n") != "\n";
    if (bDeviceKey) {
        // A value that cannot be a device: the system's text about it (with
        // the raw control character) would say nothing more.
        if (strPath.empty())
            return strDeviceKey + " is empty: it names no device for " + strPort + ".";
        const std::string strControl = FirstControlName(strPath);
        if (!strControl.empty())
            return strDeviceKey + "=" + Spelled(strPath) +
                   " holds a control character (" + strControl + ").";
        return strReason + "\n" + strDeviceKey + "=" + Spelled(strPath) +
               " is the device of " + strPort + ".";
    }
    const std::vector<int> ports = ComPortsHere(scanner);
    if (m_strCommPort.empty())
        return std::string(kCommPort) + " is empty: it names no port (" +
               kPortsOffered + "); " + ComPortsText(ports) + ".";
    if (nPort < 1 || nPort > kLastPortNamed)
        return std::string(kCommPort) + "=" + strPort + " names no port (" +
               kPortsOffered + "); " + ComPortsText(ports) + ".";
    const std::string strSetting =
        std::string(kCommPort) + "=" + strPort + " is " + strPath;
    if (std::find(ports.begin(), ports.end(), nPort) == ports.end())
        return strReason + "\n" + strSetting + ", which is no serial port here; " +
               ComPortsText(ports) + ".";
    return strReason + "\n" + strSetting + ".";
}
