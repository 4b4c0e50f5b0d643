#include "delivery/Sender.h"

#include "delivery/CurlSession.h"
#include "delivery/SenderText.h"
#include "delivery/TargetConfig.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <mutex>
#include <sys/socket.h>
#include <unistd.h>

std::vector<CSendResult>
ISender::SendOneByOne(const std::vector<COutgoing>& pages,
                      const std::function<CSendResult(const COutgoing&)>& sendOne) {
    std::vector<CSendResult> results;
    results.reserve(pages.size());
    for (const COutgoing& page : pages) {
        if (!results.empty() && results.back().outcome == SendOutcome::kRetry) {
            CSendResult unsent = results.back();
            unsent.strDetail.clear();
            unsent.bAttempted = false;
            results.push_back(unsent);
            continue;
        }
        results.push_back(sendOne(page));
    }
    return results;
}

std::string HideSecrets(std::string strText, const std::vector<std::string>& secrets) {
    // Longest first, so a secret that holds a shorter one goes whole.
    std::vector<std::string> sorted;
    for (const std::string& strSecret : secrets) {
        if (!strSecret.empty())
            sorted.push_back(strSecret);
    }
    std::sort(
        sorted.begin(), sorted.end(),
        [](const std::string& a, const std::string& b) { return a.size() > b.size(); });
    static const std::string kHidden = "***";
    for (const std::string& strSecret : sorted) {
        for (size_t nAt = strText.find(strSecret); nAt != std::string::npos;
             nAt = strText.find(strSecret, nAt + kHidden.size()))
            strText.replace(nAt, strSecret.size(), kHidden);
    }
    return strText;
}

std::string Excerpt(const std::string& strText, size_t nMax) {
    size_t nEnd = std::min(nMax, strText.size());
    if (nEnd < strText.size()) {
        // Back over continuation bytes to the start of the cut character.
        while (nEnd > 0 && (static_cast<unsigned char>(strText[nEnd]) & 0xC0) == 0x80)
            --nEnd;
    }
    std::string strResult = strText.substr(0, nEnd);
    for (char& c : strResult) {
        const unsigned char u = static_cast<unsigned char>(c);
        if ((u < 0x20 && c != '\n' && c != '\r' && c != '\t') || u == 0x7F)
            c = '?';
    }
    return strResult;
}

std::string HeaderValue(const std::string& strText) {
    std::string strResult = strText;
    for (char& c : strResult) {
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F)
            c = ' ';
    }
    return strResult;
}

std::string UpperCase(std::string strText) {
    for (char& c : strText)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return strText;
}

std::string Base64(const std::string& strBytes) {
    static const char kAlphabet[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string strResult;
    strResult.reserve((strBytes.size() + 2) / 3 * 4);
    for (size_t i = 0; i < strBytes.size(); i += 3) {
        const size_t nLeft = strBytes.size() - i;
        std::uint32_t nGroup = static_cast<unsigned char>(strBytes[i]) << 16;
        if (nLeft > 1)
            nGroup |= static_cast<unsigned char>(strBytes[i + 1]) << 8;
        if (nLeft > 2)
            nGroup |= static_cast<unsigned char>(strBytes[i + 2]);
        strResult += kAlphabet[(nGroup >> 18) & 0x3F];
        strResult += kAlphabet[(nGroup >> 12) & 0x3F];
        strResult += nLeft > 1 ? kAlphabet[(nGroup >> 6) & 0x3F] : '=';
        strResult += nLeft > 2 ? kAlphabet[nGroup & 0x3F] : '=';
    }
    return strResult;
}

namespace {

// How often a transfer in progress looks at its sender's stop request.
constexpr int kWatchMs = 50;
// How much longer than the Timeout libcurl itself waits for an answer.
constexpr long kResponseBackstopSeconds = 2;

std::once_flag g_curlInit;

struct CProgressWatch {
    const std::function<bool()>* pStop;
    std::chrono::steady_clock::time_point deadline;
    const std::vector<curl_socket_t>* pSockets;
    bool bStopped = false;
    bool bTimedOut = false;
};

// libcurl calls it while a transfer runs, also where it waits without
// returning to the multi loop (an SMTP server's last answer, looked at once
// a second). A transfer stopped or out of time has its connections shut
// down at once, so that libcurl does not wait again, for the answer to a
// QUIT.
int OnProgress(void* pWatch, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
    CProgressWatch& watch = *static_cast<CProgressWatch*>(pWatch);
    watch.bStopped = (*watch.pStop)();
    watch.bTimedOut =
        !watch.bStopped && std::chrono::steady_clock::now() >= watch.deadline;
    if (!watch.bStopped && !watch.bTimedOut)
        return 0;
    for (curl_socket_t fd : *watch.pSockets)
        shutdown(fd, SHUT_RDWR);
    return 1;
}

} // namespace

CCurlSession::CCurlSession() {
    std::call_once(g_curlInit, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
    m_pEasy = curl_easy_init();
    m_pMulti = curl_multi_init();
}

CCurlSession::~CCurlSession() {
    if (m_pEasy != nullptr)
        curl_easy_cleanup(m_pEasy);
    if (m_pMulti != nullptr)
        curl_multi_cleanup(m_pMulti);
}

CURL* CCurlSession::Prepare() {
    curl_easy_reset(m_pEasy);
    m_szError[0] = '\0';
    curl_easy_setopt(m_pEasy, CURLOPT_ERRORBUFFER, m_szError);
    // Worker threads: no alarm signals for time-outs.
    curl_easy_setopt(m_pEasy, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(m_pEasy, CURLOPT_OPENSOCKETFUNCTION, OnOpenSocket);
    curl_easy_setopt(m_pEasy, CURLOPT_OPENSOCKETDATA, this);
    curl_easy_setopt(m_pEasy, CURLOPT_CLOSESOCKETFUNCTION, OnCloseSocket);
    curl_easy_setopt(m_pEasy, CURLOPT_CLOSESOCKETDATA, this);
    return m_pEasy;
}

curl_socket_t CCurlSession::OnOpenSocket(void* pSelf, curlsocktype,
                                         curl_sockaddr* pAddress) {
    const curl_socket_t fd =
        socket(pAddress->family, pAddress->socktype | SOCK_CLOEXEC, pAddress->protocol);
    if (fd != CURL_SOCKET_BAD)
        static_cast<CCurlSession*>(pSelf)->m_sockets.push_back(fd);
    return fd;
}

int CCurlSession::OnCloseSocket(void* pSelf, curl_socket_t fd) {
    std::vector<curl_socket_t>& sockets = static_cast<CCurlSession*>(pSelf)->m_sockets;
    sockets.erase(std::remove(sockets.begin(), sockets.end(), fd), sockets.end());
    return close(fd);
}

void CCurlSession::VerifyPeer(const std::string& strCaFile, bool bInsecure) {
    if (!strCaFile.empty())
        curl_easy_setopt(m_pEasy, CURLOPT_CAINFO, strCaFile.c_str());
    if (bInsecure) {
        curl_easy_setopt(m_pEasy, CURLOPT_SSL_VERIFYPEER, 0L);
        curl_easy_setopt(m_pEasy, CURLOPT_SSL_VERIFYHOST, 0L);
    }
}

CURLcode CCurlSession::Perform(const std::function<bool()>& stop, int nTimeoutSeconds,
                               bool* pbStopped) {
    *pbStopped = false;
    CProgressWatch watch;
    watch.pStop = &stop;
    watch.deadline =
        std::chrono::steady_clock::now() + std::chrono::seconds(nTimeoutSeconds);
    watch.pSockets = &m_sockets;
    curl_easy_setopt(m_pEasy, CURLOPT_TIMEOUT, static_cast<long>(nTimeoutSeconds));
    // libcurl's own limit for a server's answer (120 s unless set) is a
    // backstop here: the watch ends the wait first, without a QUIT.
    curl_easy_setopt(m_pEasy, CURLOPT_SERVER_RESPONSE_TIMEOUT,
                     static_cast<long>(nTimeoutSeconds) + kResponseBackstopSeconds);
    curl_easy_setopt(m_pEasy, CURLOPT_XFERINFOFUNCTION, OnProgress);
    curl_easy_setopt(m_pEasy, CURLOPT_XFERINFODATA, &watch);
    curl_easy_setopt(m_pEasy, CURLOPT_NOPROGRESS, 0L);
    if (curl_multi_add_handle(m_pMulti, m_pEasy) != CURLM_OK)
        return CURLE_FAILED_INIT;
    CURLcode result = CURLE_FAILED_INIT;
    for (;;) {
        if (stop()) {
            *pbStopped = true;
            result = CURLE_ABORTED_BY_CALLBACK;
            break;
        }
        int nRunning = 0;
        if (curl_multi_perform(m_pMulti, &nRunning) != CURLM_OK)
            break;
        bool bDone = false;
        int nQueued = 0;
        while (CURLMsg* pMessage = curl_multi_info_read(m_pMulti, &nQueued)) {
            if (pMessage->msg == CURLMSG_DONE && pMessage->easy_handle == m_pEasy) {
                result = pMessage->data.result;
                bDone = true;
            }
        }
        if (bDone)
            break;
        if (curl_multi_poll(m_pMulti, nullptr, 0, kWatchMs, nullptr) != CURLM_OK)
            break;
    }
    // Removing a transfer that did not end closes its connection; a finished
    // one leaves it in the multi handle's cache for the next page.
    curl_multi_remove_handle(m_pMulti, m_pEasy);
    if (result == CURLE_ABORTED_BY_CALLBACK) {
        *pbStopped = watch.bStopped || !watch.bTimedOut;
        if (watch.bTimedOut)
            result = CURLE_OPERATION_TIMEDOUT;
    }
    return result;
}

std::string CCurlSession::FailureReason(CURLcode code, int nTimeoutSeconds) const {
    switch (code) {
    case CURLE_COULDNT_CONNECT: {
        long nErrno = 0;
        curl_easy_getinfo(m_pEasy, CURLINFO_OS_ERRNO, &nErrno);
        if (nErrno == ECONNREFUSED)
            return "CONNECTION REFUSED";
        if (nErrno == ENETUNREACH || nErrno == EHOSTUNREACH)
            return "HOST UNREACHABLE";
        return "CANNOT CONNECT";
    }
    case CURLE_COULDNT_RESOLVE_HOST: return "HOST NOT FOUND";
    case CURLE_OPERATION_TIMEDOUT:
        return "TIMED OUT AFTER " + std::to_string(nTimeoutSeconds) + " S";
    case CURLE_GOT_NOTHING: return "CLOSED WITHOUT AN ANSWER";
    case CURLE_SEND_ERROR:
    case CURLE_RECV_ERROR:
    case CURLE_PARTIAL_FILE: return "CONNECTION LOST";
    case CURLE_WEIRD_SERVER_REPLY:
    case CURLE_UNSUPPORTED_PROTOCOL:
    case CURLE_HTTP2:
    case CURLE_BAD_CONTENT_ENCODING: return "GARBLED ANSWER";
    case CURLE_PEER_FAILED_VERIFICATION: return "TLS CERTIFICATE NOT TRUSTED";
    case CURLE_SSL_CONNECT_ERROR: return "TLS HANDSHAKE FAILED";
    case CURLE_SSL_CACERT_BADFILE: return "CANNOT READ THE CA FILE";
    case CURLE_USE_SSL_FAILED: return "TLS NOT OFFERED";
    case CURLE_LOGIN_DENIED: return "LOGIN DENIED";
    case CURLE_ABORTED_BY_CALLBACK: return "STOPPED";
    default: return UpperCase(curl_easy_strerror(code));
    }
}
