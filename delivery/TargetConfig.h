// CTargetConfig: one place pages are delivered to, as a [Target NAME]
// section of the profile describes it, and the rules of which pages go
// there.
//
//   [Target ward7]
//   Url=mqtt://127.0.0.1:1883/paging/{pager}
//   Pagers=1200-1299 5551212
//   Ports=1
//
// Parsing checks everything a sender needs, so that a target with a wrong
// setting is off from the start with one message that names the section,
// the key and the value, and a sender never meets a bad value.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

class IProfile;

enum class TargetScheme { kMqtt, kMqtts, kHttp, kHttps, kSmtp, kSmtps, kExec };

// Pager IDs and ranges of them ("1200-1299 5551212"); empty: every pager.
class CPagerSet {
  public:
    // False, with what is wrong, for an entry that is neither an ID nor a
    // range of two numeric IDs with the lower first.
    bool Parse(const std::string& strText, std::string* pstrError);
    bool Matches(const std::string& strPager) const;
    bool IsAll() const { return m_ids.empty() && m_ranges.empty(); }

  private:
    std::vector<std::string> m_ids;
    std::vector<std::pair<std::uint64_t, std::uint64_t>> m_ranges;
};

struct CTargetConfig {
    static constexpr const char* kSectionPrefix = "Target ";
    // Every key a [Target NAME] section may hold.
    static constexpr const char* kKeys[] = {
        "Url",     "Pagers",   "Ports",         "Body",     "Expire",
        "Timeout", "Qos",      "Authorization", "MailFrom", "MailTo",
        "Subject", "StartTls", "CaFile",        "Insecure", "Alerts"};

    std::string strName; // NAME of [Target NAME]
    std::string strUrl;  // as written: may hold a password, never shown so
    TargetScheme scheme = TargetScheme::kHttp;

    // From the URL. mqtt(s): host, port (1883 / 8883 by default), user and
    // password, the topic (strPath without its leading '/', with {pager} and
    // {port} still in it). http(s): strUrl is used as it is. smtp(s): host
    // and port (25 / 465), user and password. exec: the program's absolute
    // path in strProgram.
    std::string strHost;
    int nPort = 0;
    std::string strUser;
    std::string strPassword;
    std::string strPath;
    std::string strProgram;

    CPagerSet pagers;
    std::vector<int> ports; // empty: every port
    bool bBodyText = false; // Body=text: the message alone
    std::int64_t nExpireMs = 24LL * 3600 * 1000;
    int nTimeoutSeconds = 10;
    int nQos = 1;                 // MQTT
    std::string strAuthorization; // HTTP: the Authorization header's value
    std::string strMailFrom;      // mail
    std::vector<std::string> mailTo;
    std::string strSubject = "Page for {pager}";
    bool bStartTls = false; // smtp:// upgraded with STARTTLS
    std::string strCaFile;  // TLS: the CA to verify the peer; empty: the system's
    bool bInsecure = false; // TLS: no verification (asked for)
    // Alerts=1: the line's and the deliveries' alerts go here too, as
    // records of their own; Alerts=only: alerts and no pages.
    enum class AlertsWanted { kNo, kToo, kOnly };
    AlertsWanted alerts = AlertsWanted::kNo;

    // Whether a page from this port for this pager goes here.
    bool Routes(int nPort, const std::string& strPager) const;
    // Whether an alert about this port goes here.
    bool RoutesAlert(int nPort) const;
    // The URL with its password shown as *** (for every window and file).
    std::string ShownUrl() const;
    // "MQTT", "HTTP", "SMTP", "EXEC"
    const char* KindText() const;
    bool UsesTls() const;
};

// Reads [Target NAME] from the profile. False, with one line naming the
// section, the key and the (shortened, secret-free) value in *pstrError,
// when a setting cannot be used.
bool ParseTarget(const IProfile& profile, const std::string& strName,
                 CTargetConfig* pTarget, std::string* pstrError);

// The MQTT topic for a page: {pager} and {port} filled in, and the
// characters topics reserve ('/', '+', '#') in the pager ID as '_'.
std::string FillTopic(const std::string& strTopic, const std::string& strPager,
                      int nPort);

// "24h", "90m", "30s", "7d", "3600" (seconds): milliseconds; false for
// anything else, zero or negative.
bool ParseDuration(const std::string& strText, std::int64_t* pnMs);
