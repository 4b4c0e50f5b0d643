#include "delivery/TargetConfig.h"

#include "settings/Profile.h"
#include "settings/ShownValue.h"

#include <curl/curl.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <memory>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// A value as the profile holds it, less a comment that follows it after a
// blank ("1200-1299   ; ward 7"): the sections' own example writes them so.
std::string WithoutComment(const std::string& strValue) {
    for (size_t i = 1; i < strValue.size(); ++i) {
        if (strValue[i] == ';' &&
            std::isspace(static_cast<unsigned char>(strValue[i - 1]))) {
            std::string strText = strValue.substr(0, i);
            while (!strText.empty() &&
                   std::isspace(static_cast<unsigned char>(strText.back())))
                strText.pop_back();
            return strText;
        }
    }
    return strValue;
}

std::vector<std::string> Words(const std::string& strText) {
    std::vector<std::string> words;
    std::istringstream in(strText);
    std::string strWord;
    while (in >> strWord)
        words.push_back(strWord);
    return words;
}

bool IsDigits(const std::string& strText) {
    return !strText.empty() && std::all_of(strText.begin(), strText.end(), [](char c) {
        return std::isdigit(static_cast<unsigned char>(c)) != 0;
    });
}

bool ParseCount(const std::string& strText, std::uint64_t* pnValue) {
    if (!IsDigits(strText) || strText.size() > 19)
        return false;
    *pnValue = std::stoull(strText);
    return true;
}

std::string LowerCase(std::string strText) {
    for (char& c : strText)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return strText;
}

// "[Target ward7] Pagers=12x-3: <why>"
std::string Problem(const std::string& strName, const std::string& strKey,
                    const std::string& strShown, const std::string& strWhy) {
    return "[" + std::string(CTargetConfig::kSectionPrefix) + strName + "] " + strKey +
           "=" + ShownValue(strShown) + ": " + strWhy;
}

// The URL with "user:password@" shown as "user:***@". The credentials run
// to the last '@' of the whole URL: a password may hold '/', '?' or '#',
// and hiding too much is better than showing a secret.
std::string MaskUrlPassword(const std::string& strUrl) {
    const size_t nScheme = strUrl.find("://");
    if (nScheme == std::string::npos)
        return strUrl;
    const size_t nAuthority = nScheme + 3;
    const size_t nAt = strUrl.rfind('@');
    if (nAt == std::string::npos || nAt < nAuthority)
        return strUrl;
    const size_t nColon = strUrl.find(':', nAuthority);
    if (nColon == std::string::npos || nColon > nAt)
        return strUrl;
    return strUrl.substr(0, nColon + 1) + "***" + strUrl.substr(nAt);
}

struct CUrlDeleter {
    void operator()(CURLU* p) const { curl_url_cleanup(p); }
};
struct CCurlText {
    char* p = nullptr;
    ~CCurlText() { curl_free(p); }
};

// Asks libcurl's URL parser for one part; empty when the URL has none.
std::string UrlPart(CURLU* pUrl, CURLUPart part, unsigned nFlags = 0) {
    CCurlText text;
    if (curl_url_get(pUrl, part, &text.p, nFlags) != CURLUE_OK || text.p == nullptr)
        return std::string();
    return text.p;
}

bool ParseUrl(CTargetConfig* pTarget, std::string* pstrWhy) {
    const std::string& strUrl = pTarget->strUrl;
    const size_t nScheme = strUrl.find(':');
    const std::string strScheme = nScheme == std::string::npos
                                      ? std::string()
                                      : LowerCase(strUrl.substr(0, nScheme));
    static const std::pair<const char*, TargetScheme> kSchemes[] = {
        {"mqtt", TargetScheme::kMqtt}, {"mqtts", TargetScheme::kMqtts},
        {"http", TargetScheme::kHttp}, {"https", TargetScheme::kHttps},
        {"smtp", TargetScheme::kSmtp}, {"smtps", TargetScheme::kSmtps},
        {"exec", TargetScheme::kExec},
    };
    const auto found =
        std::find_if(std::begin(kSchemes), std::end(kSchemes),
                     [&](const auto& s) { return strScheme == s.first; });
    if (found == std::end(kSchemes)) {
        *pstrWhy =
            strScheme.empty()
                ? "not a URL (mqtt://, mqtts://, http://, https://, smtp://, smtps:// "
                  "or exec:/absolute/path)"
                : "unknown scheme " + strScheme +
                      " (mqtt, mqtts, http, https, smtp, smtps or exec)";
        return false;
    }
    pTarget->scheme = found->second;
    if (pTarget->scheme == TargetScheme::kExec) {
        pTarget->strProgram = strUrl.substr(nScheme + 1);
        if (pTarget->strProgram.empty() || pTarget->strProgram[0] != '/') {
            *pstrWhy = "the program must be given by its absolute path "
                       "(exec:/path/to/program)";
            return false;
        }
        struct stat st;
        if (stat(pTarget->strProgram.c_str(), &st) != 0 ||
            access(pTarget->strProgram.c_str(), X_OK) != 0) {
            *pstrWhy =
                "the program cannot be run: " + std::string(std::strerror(errno));
            return false;
        }
        // Root may "execute" any file with an x bit, and a folder has one.
        if (!S_ISREG(st.st_mode) || (st.st_mode & 0111) == 0) {
            *pstrWhy = "the program cannot be run: not an executable file";
            return false;
        }
        return true;
    }
    std::unique_ptr<CURLU, CUrlDeleter> pUrl(curl_url());
    if (!pUrl || curl_url_set(pUrl.get(), CURLUPART_URL, strUrl.c_str(),
                              CURLU_NON_SUPPORT_SCHEME) != CURLUE_OK) {
        *pstrWhy = "not a valid URL";
        return false;
    }
    pTarget->strHost = UrlPart(pUrl.get(), CURLUPART_HOST);
    if (pTarget->strHost.empty()) {
        *pstrWhy = "the URL names no host";
        return false;
    }
    // IPv6 literals come back in brackets; the libraries want them bare.
    if (pTarget->strHost.size() > 2 && pTarget->strHost.front() == '[')
        pTarget->strHost = pTarget->strHost.substr(1, pTarget->strHost.size() - 2);
    pTarget->strUser = UrlPart(pUrl.get(), CURLUPART_USER, CURLU_URLDECODE);
    pTarget->strPassword = UrlPart(pUrl.get(), CURLUPART_PASSWORD, CURLU_URLDECODE);
    const std::string strPort = UrlPart(pUrl.get(), CURLUPART_PORT);
    switch (pTarget->scheme) {
    case TargetScheme::kMqtt: pTarget->nPort = 1883; break;
    case TargetScheme::kMqtts: pTarget->nPort = 8883; break;
    case TargetScheme::kHttp: pTarget->nPort = 80; break;
    case TargetScheme::kHttps: pTarget->nPort = 443; break;
    case TargetScheme::kSmtp: pTarget->nPort = 25; break;
    case TargetScheme::kSmtps: pTarget->nPort = 465; break;
    case TargetScheme::kExec: break;
    }
    if (!strPort.empty())
        pTarget->nPort = std::stoi(strPort); // the parser checked it: 0 to 65535
    pTarget->strPath = UrlPart(pUrl.get(), CURLUPART_PATH, CURLU_URLDECODE);
    if (!pTarget->strPath.empty() && pTarget->strPath[0] == '/')
        pTarget->strPath.erase(0, 1);
    if ((pTarget->scheme == TargetScheme::kMqtt ||
         pTarget->scheme == TargetScheme::kMqtts) &&
        pTarget->strPath.empty()) {
        *pstrWhy = "the URL names no topic (mqtt://host/topic)";
        return false;
    }
    return true;
}

} // namespace

bool CPagerSet::Parse(const std::string& strText, std::string* pstrError) {
    m_ids.clear();
    m_ranges.clear();
    for (const std::string& strWord : Words(strText)) {
        const size_t nDash = strWord.find('-');
        if (nDash == std::string::npos) {
            m_ids.push_back(strWord);
            continue;
        }
        std::uint64_t nLow = 0, nHigh = 0;
        if (!ParseCount(strWord.substr(0, nDash), &nLow) ||
            !ParseCount(strWord.substr(nDash + 1), &nHigh)) {
            *pstrError =
                "the range " + ShownValue(strWord) + " is not two numeric pager IDs";
            return false;
        }
        if (nLow > nHigh) {
            *pstrError = "the range " + ShownValue(strWord) + " runs backwards";
            return false;
        }
        m_ranges.emplace_back(nLow, nHigh);
    }
    return true;
}

bool CPagerSet::Matches(const std::string& strPager) const {
    if (IsAll())
        return true;
    if (std::find(m_ids.begin(), m_ids.end(), strPager) != m_ids.end())
        return true;
    std::uint64_t nPager = 0;
    if (!ParseCount(strPager, &nPager))
        return false;
    return std::any_of(m_ranges.begin(), m_ranges.end(), [&](const auto& range) {
        return nPager >= range.first && nPager <= range.second;
    });
}

bool CTargetConfig::Routes(int nPortNumber, const std::string& strPager) const {
    if (alerts == AlertsWanted::kOnly)
        return false;
    if (!ports.empty() &&
        std::find(ports.begin(), ports.end(), nPortNumber) == ports.end())
        return false;
    return pagers.Matches(strPager);
}

bool CTargetConfig::RoutesAlert(int nPortNumber) const {
    return alerts != AlertsWanted::kNo &&
           (ports.empty() ||
            std::find(ports.begin(), ports.end(), nPortNumber) != ports.end());
}

std::string CTargetConfig::ShownUrl() const {
    return MaskUrlPassword(strUrl);
}

const char* CTargetConfig::KindText() const {
    switch (scheme) {
    case TargetScheme::kMqtt:
    case TargetScheme::kMqtts: return "MQTT";
    case TargetScheme::kHttp:
    case TargetScheme::kHttps: return "HTTP";
    case TargetScheme::kSmtp:
    case TargetScheme::kSmtps: return "SMTP";
    case TargetScheme::kExec: return "EXEC";
    }
    return "";
}

bool CTargetConfig::UsesTls() const {
    return scheme == TargetScheme::kMqtts || scheme == TargetScheme::kHttps ||
           scheme == TargetScheme::kSmtps ||
           (scheme == TargetScheme::kSmtp && bStartTls);
}

bool ParseDuration(const std::string& strText, std::int64_t* pnMs) {
    if (strText.empty())
        return false;
    std::string strNumber = strText;
    std::int64_t nUnitMs = 1000;
    const char chUnit =
        static_cast<char>(std::tolower(static_cast<unsigned char>(strText.back())));
    if (!std::isdigit(static_cast<unsigned char>(chUnit))) {
        switch (chUnit) {
        case 's': nUnitMs = 1000; break;
        case 'm': nUnitMs = 60 * 1000; break;
        case 'h': nUnitMs = 3600 * 1000; break;
        case 'd': nUnitMs = 24LL * 3600 * 1000; break;
        default: return false;
        }
        strNumber.pop_back();
    }
    std::uint64_t nValue = 0;
    // At most about three years: a number past that is a typing mistake.
    if (!ParseCount(strNumber, &nValue) || nValue == 0 ||
        nValue * static_cast<std::uint64_t>(nUnitMs) > 100000000000ULL)
        return false;
    *pnMs = static_cast<std::int64_t>(nValue) * nUnitMs;
    return true;
}

std::string FillTopic(const std::string& strTopic, const std::string& strPager,
                      int nPort) {
    std::string strSafePager = strPager;
    for (char& c : strSafePager) {
        if (c == '/' || c == '+' || c == '#')
            c = '_';
    }
    std::string strResult;
    for (size_t i = 0; i < strTopic.size();) {
        if (strTopic.compare(i, 7, "{pager}") == 0) {
            strResult += strSafePager;
            i += 7;
        } else if (strTopic.compare(i, 6, "{port}") == 0) {
            strResult += std::to_string(nPort);
            i += 6;
        } else {
            strResult += strTopic[i++];
        }
    }
    return strResult;
}

bool ParseTarget(const IProfile& profile, const std::string& strName,
                 CTargetConfig* pTarget, std::string* pstrError) {
    CTargetConfig target;
    target.strName = strName;
    const std::string strSection = CTargetConfig::kSectionPrefix + strName;
    auto get = [&](const char* szKey) {
        return WithoutComment(profile.GetString(strSection, szKey, ""));
    };
    auto fail = [&](const char* szKey, const std::string& strShown,
                    const std::string& strWhy) {
        *pstrError = Problem(strName, szKey, strShown, strWhy);
        return false;
    };

    target.strUrl = get("Url");
    if (target.strUrl.empty())
        return fail("Url", "", "no URL: the target has nowhere to deliver");
    std::string strWhy;
    if (!ParseUrl(&target, &strWhy))
        return fail("Url", target.ShownUrl(), strWhy);

    const std::string strPagers = get("Pagers");
    if (!target.pagers.Parse(strPagers, &strWhy))
        return fail("Pagers", strPagers, strWhy);

    const std::string strPorts = get("Ports");
    for (const std::string& strWord : Words(strPorts)) {
        std::uint64_t nPortNumber = 0;
        if (!ParseCount(strWord, &nPortNumber) || nPortNumber == 0 || nPortNumber > 255)
            return fail("Ports", strPorts, "ports are numbers from 1 (COM1) up");
        target.ports.push_back(static_cast<int>(nPortNumber));
    }

    const std::string strBody = LowerCase(get("Body"));
    if (strBody == "text")
        target.bBodyText = true;
    else if (!strBody.empty() && strBody != "json")
        return fail("Body", strBody, "json or text");

    const std::string strAlerts = LowerCase(get("Alerts"));
    if (strAlerts == "only")
        target.alerts = CTargetConfig::AlertsWanted::kOnly;
    else if (strAlerts == "1" || strAlerts == "yes")
        target.alerts = CTargetConfig::AlertsWanted::kToo;
    else if (!strAlerts.empty() && strAlerts != "0" && strAlerts != "no")
        return fail("Alerts", strAlerts,
                    "1 (alerts and pages), only (alerts alone) or 0");

    const std::string strExpire = get("Expire");
    if (!strExpire.empty() && !ParseDuration(strExpire, &target.nExpireMs))
        return fail("Expire", strExpire, "a duration such as 30m, 24h or 7d");

    const std::string strTimeout = get("Timeout");
    if (!strTimeout.empty()) {
        std::uint64_t nSeconds = 0;
        if (!ParseCount(strTimeout, &nSeconds) || nSeconds < 1 || nSeconds > 600)
            return fail("Timeout", strTimeout, "seconds from 1 to 600");
        target.nTimeoutSeconds = static_cast<int>(nSeconds);
    }

    const std::string strQos = get("Qos");
    if (!strQos.empty()) {
        if (strQos != "0" && strQos != "1" && strQos != "2")
            return fail("Qos", strQos, "0, 1 or 2");
        target.nQos = strQos[0] - '0';
    }

    // Its value is a secret: never repeated in a message.
    target.strAuthorization = get("Authorization");
    target.strMailFrom = get("MailFrom");
    target.mailTo = Words(get("MailTo"));
    const std::string strSubject = get("Subject");
    if (!strSubject.empty())
        target.strSubject = strSubject;
    target.bStartTls = DecimalValue(get("StartTls")) != 0;
    target.bInsecure = DecimalValue(get("Insecure")) != 0;
    target.strCaFile = get("CaFile");
    if (!target.strCaFile.empty() && access(target.strCaFile.c_str(), R_OK) != 0)
        return fail("CaFile", target.strCaFile,
                    "cannot be read: " + std::string(std::strerror(errno)));

    const bool bMail =
        target.scheme == TargetScheme::kSmtp || target.scheme == TargetScheme::kSmtps;
    if (bMail && target.strMailFrom.empty())
        return fail("MailFrom", "", "mail needs a sender address");
    if (bMail && target.mailTo.empty())
        return fail("MailTo", "", "mail needs at least one address to send to");

    *pTarget = std::move(target);
    return true;
}
