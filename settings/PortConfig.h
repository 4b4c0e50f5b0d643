// CPortConfig: the serial-port settings the operator chose, as kept in the
// profile section "Configuration".
//
// "CommPort" names the port in use; every other setting is kept per port
// under a key made of a stem and the port number (BaudRate1, Parity2, ...),
// so each of COM1 to COM4 keeps its own line format and flow control. Records
// are plain values that share nothing and meet only through the profile: a
// value written through one is seen by another only after its Load.
//
// The text fields change only in Load (and the port text in SetCommPort);
// a value setter updates the numeric field and leaves the text as loaded.
// Values are not validated here: an unusable combination shows when the
// port is opened with it. Used on the user-interface thread only.
#pragma once

#include "settings/Profile.h"

#include <cstdint>
#include <string>

class CDeviceScanner;

class CPortConfig {
  public:
    explicit CPortConfig(IProfile& profile = AppProfile());
    virtual ~CPortConfig() = default;

    void Load();
    void SetCommPort(const std::string& strPort);
    void SetBaudRate(uint8_t nPort, const std::string& strValue);
    void SetDataBits(uint8_t nPort, const std::string& strValue);
    void SetParity(uint8_t nPort, const std::string& strValue);
    void SetStopBits(uint8_t nPort, const std::string& strValue);
    void SetRTS(uint8_t nPort, int nValue);
    void SetDTR(uint8_t nPort, int nValue);
    void SetCTS(uint8_t nPort, int nValue);
    void SetDSR(uint8_t nPort, int nValue);

    std::string GetCommPort() const { return m_strCommPort; }
    std::string GetBaudRate() const { return m_strBaudRate; }
    std::string GetParity() const { return m_strParity; }
    std::string GetStopBits() const { return m_strStopBits; }
    std::string GetDataBits() const { return m_strDataBits; }
    int GetRTS() const { return m_nRTS; }
    int GetDTR() const { return m_nDTR; }
    int GetCTS() const { return m_nCTS; }
    int GetDSR() const { return m_nDSR; }

    // The test bench of the port in use, loaded with the rest: the test
    // modes ("Misbehave"+n, empty: none) and whether rejected blocks are
    // explained in the protocol window ("Diagnose"+n, 0 or 1).
    std::string GetMisbehave() const { return m_strMisbehave; }
    int GetDiagnose() const { return m_nDiagnose; }
    void SetMisbehave(uint8_t nPort, const std::string& strValue);
    void SetDiagnose(uint8_t nPort, int nValue);
    // The password a logon may carry ("Password"+n): empty takes ESC PG1 CR
    // only, "*" any password or none, any other value that one only.
    // The folder of the session log ("LogFolder"+n): the pages and the
    // trace written as they come; empty (the default) for none.
    std::string GetLogFolder() const { return m_strLogFolder; }
    void SetLogFolder(uint8_t nPort, const std::string& strValue);
    // How message bytes become text ("Charset"+n): ascii (empty, the
    // default), latin1, cp1252 or utf-8, as the session reads it.
    std::string GetCharset() const { return m_strCharset; }
    std::string GetPassword() const { return m_strPassword; }
    void SetPassword(uint8_t nPort, const std::string& strValue);
    // How answers are made ("Responses"+n): empty for bare answers, "tap18"
    // for revision 1.8's message sequences before them.
    std::string GetResponses() const { return m_strResponses; }
    bool HasMessageSequences() const { return m_strResponses == kResponsesTap18; }
    void SetResponses(uint8_t nPort, const std::string& strValue);
    static constexpr const char* kResponsesTap18 = "tap18";

    // Delivery onward. When the caller gets its ACK ("AnswerWhen"+n:
    // empty or "stored", "delivered"), how long "delivered" waits
    // ("DeliveryWait"+n, seconds), where the outbox lives ("StateFolder",
    // empty: the user's state folder) and how long delivered pages are kept
    // ("KeepDays"). Checked where they are used.
    std::string GetAnswerWhen() const { return m_strAnswerWhen; }
    std::string GetDeliveryWait() const { return m_strDeliveryWait; }
    std::string GetStateFolder() const { return m_strStateFolder; }
    std::string GetKeepDays() const { return m_strKeepDays; }

    // The device path of port n ("Device"+n): the serial device that COMn
    // stands for on this machine. Read from the profile at each call.
    std::string GetDevicePath(int nPort) const;
    void SetDevicePath(uint8_t nPort, const std::string& strPath);
    static std::string DefaultDevicePath(int nPort);

    static std::string PortKey(const std::string& strStem, uint8_t nPort);

    // Port nPort's device strPath did not open for strReason ("<path>:
    // <system text>"): the text that also names the setting that chose the
    // device (CommPort, or Device n when the profile has it), its value with
    // control characters spelled out, and what is wrong with it. A setting
    // that names no device replaces the reason; otherwise its line follows
    // the reason. COM names say which COM ports this machine has: COMn is
    // /dev/ttyS(n-1) where the scanner finds a UART behind it.
    std::string ExplainOpenError(int nPort, const std::string& strPath,
                                 const std::string& strReason,
                                 const CDeviceScanner& scanner) const;

    static constexpr const char* kSection = "Configuration";

    // Read directly by the view when it opens the port.
    std::string m_strCommPort;
    std::string m_strBaudRate;
    std::string m_strParity;
    std::string m_strStopBits;
    std::string m_strDataBits;
    int m_nPort = 0;
    int m_nBaudRate = 0;
    char m_chParity = '\0';
    int m_nStopBits = 0;
    int m_nDataBits = 0;
    int m_nRTS = 0;
    int m_nDTR = 0;
    int m_nCTS = 0;
    int m_nDSR = 0;

  private:
    std::string m_strMisbehave;
    int m_nDiagnose = 0;
    std::string m_strPassword;
    std::string m_strLogFolder;
    std::string m_strCharset;
    std::string m_strResponses;
    std::string m_strAnswerWhen;
    std::string m_strDeliveryWait;
    std::string m_strStateFolder;
    std::string m_strKeepDays;
    static int PortNumberOf(const std::string& strPort);
    IProfile& m_profile;
};
