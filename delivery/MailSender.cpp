#include "delivery/MailSender.h"

#include "delivery/SenderText.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <memory>

namespace {

// Lines of a mail must not pass 998 bytes; a body that would is sent
// quoted-printable, whose lines stay within 76.
constexpr size_t kMaxLine = 998;
constexpr size_t kQuotedLine = 76;
// An encoded word holds at most 75 characters: "=?UTF-8?B?" and "?=" leave
// 63 for base64, that is 45 bytes of text.
constexpr size_t kEncodedWordBytes = 45;
// What of a server's answer the reason keeps.
constexpr size_t kAnswerExcerpt = 200;

struct CSlistDeleter {
    void operator()(curl_slist* p) const { curl_slist_free_all(p); }
};

struct CUpload {
    const std::string* pText = nullptr;
    size_t nSent = 0;
};

size_t OnRead(char* pBuffer, size_t nSize, size_t nCount, void* pUser) {
    CUpload& upload = *static_cast<CUpload*>(pUser);
    const size_t nBytes = std::min(nSize * nCount, upload.pText->size() - upload.nSent);
    std::memcpy(pBuffer, upload.pText->data() + upload.nSent, nBytes);
    upload.nSent += nBytes;
    return nBytes;
}

// libcurl hands the server's answer lines to the header callback. The last
// refusal (4xx, 5xx) is the answer to the command that failed: a QUIT and
// its 221 may follow it.
size_t OnAnswerLine(char* pData, size_t nSize, size_t nCount, void* pUser) {
    std::string& strLastRefusal = *static_cast<std::string*>(pUser);
    std::string strLine(pData, nSize * nCount);
    while (!strLine.empty() && (strLine.back() == '\r' || strLine.back() == '\n'))
        strLine.pop_back();
    if (strLine.size() >= 3 && (strLine[0] == '4' || strLine[0] == '5'))
        strLastRefusal = strLine;
    return nSize * nCount;
}

bool IsAscii(const std::string& strText) {
    return std::all_of(strText.begin(), strText.end(),
                       [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

// RFC 2047: UTF-8 text as base64 encoded words, never splitting a character,
// folded onto lines of their own.
std::string EncodedWords(const std::string& strText) {
    std::string strResult;
    size_t nBegin = 0;
    while (nBegin < strText.size()) {
        size_t nEnd = std::min(strText.size(), nBegin + kEncodedWordBytes);
        while (nEnd < strText.size() && nEnd > nBegin &&
               (static_cast<unsigned char>(strText[nEnd]) & 0xC0) == 0x80)
            --nEnd;
        if (!strResult.empty())
            strResult += "\r\n ";
        strResult +=
            "=?UTF-8?B?" + Base64(strText.substr(nBegin, nEnd - nBegin)) + "?=";
        nBegin = nEnd;
    }
    return strResult;
}

// "Tue, 02 Jan 2024 10:00:00 +0100", in English whatever the locale.
std::string MailDate(std::time_t now) {
    static const char* const kDays[] = {"Sun", "Mon", "Tue", "Wed",
                                        "Thu", "Fri", "Sat"};
    static const char* const kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                          "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    struct tm local {};
    localtime_r(&now, &local);
    const long nOffsetMinutes = local.tm_gmtoff / 60;
    const long nAbsolute = nOffsetMinutes < 0 ? -nOffsetMinutes : nOffsetMinutes;
    char szDate[64];
    std::snprintf(szDate, sizeof szDate, "%s, %02d %s %04d %02d:%02d:%02d %c%02ld%02ld",
                  kDays[local.tm_wday], local.tm_mday, kMonths[local.tm_mon],
                  local.tm_year + 1900, local.tm_hour, local.tm_min, local.tm_sec,
                  nOffsetMinutes < 0 ? '-' : '+', nAbsolute / 60, nAbsolute % 60);
    return szDate;
}

// "Ward 7 <ward7@example.org>" and "ward7@example.org" both give the address.
std::string BareAddress(const std::string& strAddress) {
    const size_t nOpen = strAddress.find('<');
    const size_t nClose = strAddress.find('>', nOpen == std::string::npos ? 0 : nOpen);
    if (nOpen != std::string::npos && nClose != std::string::npos)
        return strAddress.substr(nOpen + 1, nClose - nOpen - 1);
    return strAddress;
}

// Text lines, whatever ended them, as CRLF lines.
std::vector<std::string> Lines(const std::string& strText) {
    std::vector<std::string> lines(1);
    for (size_t i = 0; i < strText.size(); ++i) {
        const char c = strText[i];
        if (c == '\r' || c == '\n') {
            if (c == '\r' && i + 1 < strText.size() && strText[i + 1] == '\n')
                ++i;
            lines.emplace_back();
        } else {
            lines.back() += c;
        }
    }
    return lines;
}

std::string QuotedPrintable(const std::vector<std::string>& lines) {
    static const char kHex[] = "0123456789ABCDEF";
    std::string strResult;
    for (const std::string& strLine : lines) {
        size_t nColumn = 0;
        for (size_t i = 0; i < strLine.size(); ++i) {
            const unsigned char c = static_cast<unsigned char>(strLine[i]);
            const bool bLast = i + 1 == strLine.size();
            std::string strCode;
            if ((c >= 33 && c <= 126 && c != '=') ||
                ((c == ' ' || c == '\t') && !bLast))
                strCode = static_cast<char>(c);
            else
                strCode = {'=', kHex[c >> 4], kHex[c & 0x0F]};
            // A soft break ("=") keeps each line within 76 characters.
            if (nColumn + strCode.size() > kQuotedLine - 1) {
                strResult += "=\r\n";
                nColumn = 0;
            }
            strResult += strCode;
            nColumn += strCode.size();
        }
        strResult += "\r\n";
    }
    return strResult;
}

} // namespace

CMailSender::CMailSender(const CTargetConfig& target) : m_target(target) {
    const bool bBracketed = m_target.strHost.find(':') != std::string::npos;
    m_strServerUrl =
        std::string(m_target.scheme == TargetScheme::kSmtps ? "smtps" : "smtp") +
        "://" + (bBracketed ? "[" + m_target.strHost + "]" : m_target.strHost) + ":" +
        std::to_string(m_target.nPort);
    if (!m_target.strPassword.empty()) {
        m_secrets.push_back(m_target.strPassword);
        // AUTH PLAIN and LOGIN send it in base64.
        m_secrets.push_back(Base64(m_target.strPassword));
        m_secrets.push_back(Base64(std::string(1, '\0') + m_target.strUser + '\0' +
                                   m_target.strPassword));
    }
}

std::vector<CSendResult> CMailSender::Send(const std::vector<COutgoing>& pages) {
    return SendOneByOne(pages, [this](const COutgoing& page) { return SendOne(page); });
}

std::string CMailSender::Compose(const COutgoing& page, std::time_t now) const {
    std::string strSubject = m_target.strSubject;
    for (size_t nAt = strSubject.find("{pager}"); nAt != std::string::npos;
         nAt = strSubject.find("{pager}", nAt + page.strPager.size()))
        strSubject.replace(nAt, 7, page.strPager);
    strSubject = HeaderValue(strSubject);
    if (!IsAscii(strSubject))
        strSubject = EncodedWords(strSubject);

    std::string strTo;
    for (const std::string& strAddress : m_target.mailTo)
        strTo += (strTo.empty() ? "" : ", ") + HeaderValue(strAddress);

    // Message-ID: <page id@sender's domain>, with only characters an
    // address's local part takes as they are.
    std::string strLocal;
    for (char c : page.strId)
        strLocal += std::isalnum(static_cast<unsigned char>(c)) || c == '-' || c == '.'
                        ? c
                        : '_';
    const std::string strFrom = BareAddress(m_target.strMailFrom);
    const size_t nAt = strFrom.rfind('@');
    const std::string strDomain = nAt == std::string::npos
                                      ? "volnex.invalid"
                                      : HeaderValue(strFrom.substr(nAt + 1));

    std::vector<std::string> lines = Lines(page.strMessage);
    lines.emplace_back();
    lines.push_back("Pager: " + page.strPager);
    lines.push_back("Time: " + page.strTime);
    lines.push_back("Port: COM" + std::to_string(page.nPort));
    lines.push_back("Id: " + page.strId);
    const bool bQuoted =
        std::any_of(lines.begin(), lines.end(), [](const std::string& s) {
            return s.size() > kMaxLine || s.find('\0') != std::string::npos;
        });

    std::string strMail;
    strMail += "Date: " + MailDate(now) + "\r\n";
    strMail += "From: " + HeaderValue(m_target.strMailFrom) + "\r\n";
    strMail += "To: " + strTo + "\r\n";
    strMail += "Subject: " + strSubject + "\r\n";
    strMail += "Message-ID: <" + strLocal + "@" + strDomain + ">\r\n";
    strMail += "MIME-Version: 1.0\r\n";
    strMail += "Content-Type: text/plain; charset=utf-8\r\n";
    strMail += std::string("Content-Transfer-Encoding: ") +
               (bQuoted ? "quoted-printable" : "8bit") + "\r\n";
    strMail += "\r\n";
    if (bQuoted) {
        strMail += QuotedPrintable(lines);
    } else {
        for (const std::string& strLine : lines)
            strMail += strLine + "\r\n";
    }
    return strMail;
}

CSendResult CMailSender::SendOne(const COutgoing& page) {
    CSendResult result;
    if (StopRequested()) {
        result.strReason = "STOPPED";
        return result;
    }
    if (!m_session.IsValid()) {
        result.strReason = "OUT OF MEMORY";
        return result;
    }
    if (m_target.mailTo.empty()) {
        result.outcome = SendOutcome::kFailed;
        result.strReason = "NO RECIPIENTS";
        return result;
    }
    const std::string strMail = Compose(page, std::time(nullptr));
    std::unique_ptr<curl_slist, CSlistDeleter> recipients;
    for (const std::string& strAddress : m_target.mailTo) {
        const std::string strEnvelope = "<" + BareAddress(strAddress) + ">";
        if (curl_slist* pList =
                curl_slist_append(recipients.get(), strEnvelope.c_str())) {
            recipients.release();
            recipients.reset(pList);
        }
    }
    const std::string strMailFrom = "<" + BareAddress(m_target.strMailFrom) + ">";

    CURL* pCurl = m_session.Prepare();
    CUpload upload;
    upload.pText = &strMail;
    std::string strLastRefusal;
    curl_easy_setopt(pCurl, CURLOPT_URL, m_strServerUrl.c_str());
    curl_easy_setopt(pCurl, CURLOPT_PROTOCOLS_STR, "smtp,smtps");
    curl_easy_setopt(pCurl, CURLOPT_MAIL_FROM, strMailFrom.c_str());
    curl_easy_setopt(pCurl, CURLOPT_MAIL_RCPT, recipients.get());
    curl_easy_setopt(pCurl, CURLOPT_UPLOAD, 1L);
    curl_easy_setopt(pCurl, CURLOPT_READFUNCTION, OnRead);
    curl_easy_setopt(pCurl, CURLOPT_READDATA, &upload);
    curl_easy_setopt(pCurl, CURLOPT_HEADERFUNCTION, OnAnswerLine);
    curl_easy_setopt(pCurl, CURLOPT_HEADERDATA, &strLastRefusal);
    // A connection whose answer timed out stays in libcurl's cache as if it
    // were fine, and the next mail would read the late answer as its own:
    // each mail has a connection of its own.
    curl_easy_setopt(pCurl, CURLOPT_FORBID_REUSE, 1L);
    if (!m_target.strUser.empty()) {
        curl_easy_setopt(pCurl, CURLOPT_USERNAME, m_target.strUser.c_str());
        curl_easy_setopt(pCurl, CURLOPT_PASSWORD, m_target.strPassword.c_str());
    }
    if (m_target.scheme == TargetScheme::kSmtp && m_target.bStartTls)
        curl_easy_setopt(pCurl, CURLOPT_USE_SSL, static_cast<long>(CURLUSESSL_ALL));
    m_session.VerifyPeer(m_target.strCaFile, m_target.bInsecure);

    bool bStopped = false;
    const CURLcode code = m_session.Perform([this] { return StopRequested(); },
                                            m_target.nTimeoutSeconds, &bStopped);
    if (bStopped) {
        result.strReason = "STOPPED";
        return result;
    }
    if (code == CURLE_OK) {
        result.outcome = SendOutcome::kDelivered;
        return result;
    }
    long nAnswer = 0;
    curl_easy_getinfo(pCurl, CURLINFO_RESPONSE_CODE, &nAnswer);
    result.strDetail =
        Excerpt(HideSecrets(m_session.ErrorText(), m_secrets), kAnswerExcerpt);
    if (nAnswer >= 400 && nAnswer < 600) {
        // "SMTP 550 5.7.1 Message rejected": the server's own answer line.
        std::string strAnswer = std::to_string(nAnswer);
        if (strLastRefusal.compare(0, 3, strAnswer) == 0 && strLastRefusal.size() > 4)
            strAnswer += " " + strLastRefusal.substr(4);
        result.strReason =
            "SMTP " + Excerpt(HideSecrets(strAnswer, m_secrets), kAnswerExcerpt);
        result.outcome = nAnswer >= 500 && code != CURLE_LOGIN_DENIED
                             ? SendOutcome::kFailed
                             : SendOutcome::kRetry;
        return result;
    }
    result.strReason = m_session.FailureReason(code, m_target.nTimeoutSeconds);
    return result;
}
