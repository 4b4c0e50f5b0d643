#include "delivery/HttpSender.h"

#include "delivery/SenderText.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <ctime>
#include <memory>

namespace {

// What of an answer's body is kept with the attempt; more is read first, so
// that a secret the answer repeats at the cut is hidden whole.
constexpr size_t kBodyExcerpt = 1024;
constexpr size_t kBodyRead = kBodyExcerpt + 4096;
// What of a status line's reason phrase is kept.
constexpr size_t kPhraseExcerpt = 100;

struct CSlistDeleter {
    void operator()(curl_slist* p) const { curl_slist_free_all(p); }
};
using CHeaderList = std::unique_ptr<curl_slist, CSlistDeleter>;

// What the callbacks gather from one answer. A 100 Continue or any other
// interim answer starts it over.
struct CAnswer {
    std::string strPhrase;
    std::string strRetryAfter;
    std::string strBody;
};

std::string Trimmed(const std::string& strText) {
    size_t nBegin = 0;
    size_t nEnd = strText.size();
    while (nBegin < nEnd && std::isspace(static_cast<unsigned char>(strText[nBegin])))
        ++nBegin;
    while (nEnd > nBegin && std::isspace(static_cast<unsigned char>(strText[nEnd - 1])))
        --nEnd;
    return strText.substr(nBegin, nEnd - nBegin);
}

size_t OnHeader(char* pData, size_t nSize, size_t nCount, void* pUser) {
    CAnswer& answer = *static_cast<CAnswer*>(pUser);
    const std::string strLine(pData, nSize * nCount);
    if (strLine.compare(0, 5, "HTTP/") == 0) {
        answer = CAnswer();
        // "HTTP/1.1 500 Internal Server Error": the phrase after the code.
        const size_t nCode = strLine.find(' ');
        const size_t nPhrase = nCode == std::string::npos
                                   ? std::string::npos
                                   : strLine.find(' ', nCode + 1);
        if (nPhrase != std::string::npos)
            answer.strPhrase =
                Excerpt(Trimmed(strLine.substr(nPhrase + 1)), kPhraseExcerpt);
        return nSize * nCount;
    }
    const size_t nColon = strLine.find(':');
    if (nColon != std::string::npos) {
        std::string strName = strLine.substr(0, nColon);
        for (char& c : strName)
            c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        if (strName == "retry-after")
            answer.strRetryAfter = Trimmed(strLine.substr(nColon + 1));
    }
    return nSize * nCount;
}

size_t OnBody(char* pData, size_t nSize, size_t nCount, void* pUser) {
    CAnswer& answer = *static_cast<CAnswer*>(pUser);
    const size_t nBytes = nSize * nCount;
    if (answer.strBody.size() < kBodyRead)
        answer.strBody.append(pData,
                              std::min(nBytes, kBodyRead - answer.strBody.size()));
    return nBytes;
}

// Retry-After in seconds ("120") or as an HTTP date; -1 when absent or
// unreadable.
std::int64_t RetryAfterMs(const std::string& strValue) {
    if (strValue.empty())
        return -1;
    if (std::all_of(strValue.begin(), strValue.end(), [](char c) {
            return std::isdigit(static_cast<unsigned char>(c)) != 0;
        })) {
        if (strValue.size() > 9)
            return -1;
        return std::strtoll(strValue.c_str(), nullptr, 10) * 1000;
    }
    const time_t when = curl_getdate(strValue.c_str(), nullptr);
    if (when == -1)
        return -1;
    const time_t now = std::time(nullptr);
    return when > now ? static_cast<std::int64_t>(when - now) * 1000 : 0;
}

bool IsRetryStatus(long nStatus) {
    return nStatus == 408 || nStatus == 425 || nStatus == 429 ||
           (nStatus >= 500 && nStatus < 600);
}

std::string UrlPart(const std::string& strUrl, CURLUPart part) {
    std::string strResult;
    if (CURLU* pUrl = curl_url()) {
        char* pText = nullptr;
        if (curl_url_set(pUrl, CURLUPART_URL, strUrl.c_str(), 0) == CURLUE_OK &&
            curl_url_get(pUrl, part, &pText, 0) == CURLUE_OK && pText != nullptr)
            strResult = pText;
        curl_free(pText);
        curl_url_cleanup(pUrl);
    }
    return strResult;
}

std::string UrlDecoded(const std::string& strText) {
    int nLength = 0;
    char* pText = curl_easy_unescape(nullptr, strText.c_str(),
                                     static_cast<int>(strText.size()), &nLength);
    std::string strResult = pText != nullptr ? std::string(pText, nLength) : strText;
    curl_free(pText);
    return strResult;
}

} // namespace

CHttpSender::CHttpSender(const CTargetConfig& target) : m_target(target) {
    // The password as the URL writes it, decoded, and as Basic
    // authentication sends it; the Authorization value whole and its
    // credentials alone ("Bearer abc" holds "abc").
    const std::string strUser = UrlPart(m_target.strUrl, CURLUPART_USER);
    const std::string strPassword = UrlPart(m_target.strUrl, CURLUPART_PASSWORD);
    for (const std::string& strSecret : {strPassword, m_target.strPassword}) {
        if (strSecret.empty())
            continue;
        m_secrets.push_back(strSecret);
        m_secrets.push_back(UrlDecoded(strSecret));
        m_secrets.push_back(Base64(UrlDecoded(strUser) + ":" + UrlDecoded(strSecret)));
    }
    const std::string& strAuthorization = m_target.strAuthorization;
    if (!strAuthorization.empty()) {
        m_secrets.push_back(strAuthorization);
        const size_t nSpace = strAuthorization.find(' ');
        if (nSpace != std::string::npos)
            m_secrets.push_back(Trimmed(strAuthorization.substr(nSpace + 1)));
    }
}

std::vector<CSendResult> CHttpSender::Send(const std::vector<COutgoing>& pages) {
    return SendOneByOne(pages, [this](const COutgoing& page) { return SendOne(page); });
}

CSendResult CHttpSender::SendOne(const COutgoing& page) {
    CSendResult result;
    if (StopRequested()) {
        result.strReason = "STOPPED";
        return result;
    }
    if (!m_session.IsValid()) {
        result.strReason = "OUT OF MEMORY";
        return result;
    }
    CURL* pCurl = m_session.Prepare();
    CHeaderList headers;
    auto addHeader = [&headers](const std::string& strHeader) {
        if (curl_slist* pList = curl_slist_append(headers.get(), strHeader.c_str())) {
            headers.release();
            headers.reset(pList);
        }
    };
    const std::string& strBody = m_target.bBodyText ? page.strMessage : page.strRecord;
    if (m_target.bBodyText) {
        addHeader("Content-Type: text/plain; charset=utf-8");
        addHeader("Title: Page for " + HeaderValue(page.strPager));
    } else {
        addHeader("Content-Type: application/json");
    }
    addHeader("Idempotency-Key: " + HeaderValue(page.strId));
    if (!m_target.strAuthorization.empty())
        addHeader("Authorization: " + m_target.strAuthorization);
    // The body goes with the request, not after a 100 Continue round trip.
    addHeader("Expect:");

    CAnswer answer;
    curl_easy_setopt(pCurl, CURLOPT_URL, m_target.strUrl.c_str());
    curl_easy_setopt(pCurl, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(pCurl, CURLOPT_POST, 1L);
    curl_easy_setopt(pCurl, CURLOPT_POSTFIELDS, strBody.data());
    curl_easy_setopt(pCurl, CURLOPT_POSTFIELDSIZE_LARGE,
                     static_cast<curl_off_t>(strBody.size()));
    curl_easy_setopt(pCurl, CURLOPT_HTTPHEADER, headers.get());
    curl_easy_setopt(pCurl, CURLOPT_FOLLOWLOCATION, 0L);
    curl_easy_setopt(pCurl, CURLOPT_HEADERFUNCTION, OnHeader);
    curl_easy_setopt(pCurl, CURLOPT_HEADERDATA, &answer);
    curl_easy_setopt(pCurl, CURLOPT_WRITEFUNCTION, OnBody);
    curl_easy_setopt(pCurl, CURLOPT_WRITEDATA, &answer);
    m_session.VerifyPeer(m_target.strCaFile, m_target.bInsecure);

    bool bStopped = false;
    const CURLcode code = m_session.Perform([this] { return StopRequested(); },
                                            m_target.nTimeoutSeconds, &bStopped);
    if (bStopped) {
        result.strReason = "STOPPED";
        return result;
    }
    if (code != CURLE_OK) {
        result.strReason = HideSecrets(
            m_session.FailureReason(code, m_target.nTimeoutSeconds), m_secrets);
        result.strDetail =
            Excerpt(HideSecrets(m_session.ErrorText(), m_secrets), kBodyExcerpt);
        return result;
    }
    long nStatus = 0;
    curl_easy_getinfo(pCurl, CURLINFO_RESPONSE_CODE, &nStatus);
    return FromStatus(nStatus, answer.strPhrase, answer.strBody,
                      RetryAfterMs(answer.strRetryAfter));
}

CSendResult CHttpSender::FromStatus(long nStatus, const std::string& strPhrase,
                                    const std::string& strBody,
                                    std::int64_t nRetryAfterMs) const {
    CSendResult result;
    if (nStatus >= 200 && nStatus < 300) {
        result.outcome = SendOutcome::kDelivered;
        return result;
    }
    result.outcome =
        IsRetryStatus(nStatus) ? SendOutcome::kRetry : SendOutcome::kFailed;
    std::string strReason = "HTTP " + std::to_string(nStatus);
    if (!strPhrase.empty())
        strReason += " " + strPhrase;
    result.strReason = HideSecrets(strReason, m_secrets);
    result.strDetail = Excerpt(HideSecrets(strBody, m_secrets), kBodyExcerpt);
    if (result.outcome == SendOutcome::kRetry)
        result.nRetryAfterMs = nRetryAfterMs;
    return result;
}
