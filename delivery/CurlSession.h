// CCurlSession: the libcurl handles an HTTP or mail sender keeps for its
// whole life, and the texts made from libcurl's outcomes.
//
// The easy handle runs through a multi handle of its own, so the connection
// cache lives as long as the sender (an HTTP page goes over the connection
// the last one used) and a transfer is watched every 50 ms: a sender asked
// to stop removes it at once instead of waiting for libcurl's own
// once-a-second progress calls. Where libcurl waits without returning (for
// an SMTP server's last answer), those calls are all there is: a stop or
// the time-out is seen there within about a second, and the connection is
// shut down at once. Owned and called by one thread, its sender's worker.
#pragma once

#include <curl/curl.h>

#include <functional>
#include <string>
#include <vector>

class CCurlSession {
  public:
    CCurlSession();
    ~CCurlSession();
    CCurlSession(const CCurlSession&) = delete;
    CCurlSession& operator=(const CCurlSession&) = delete;

    // False when libcurl could not make its handles (out of memory).
    bool IsValid() const { return m_pEasy != nullptr && m_pMulti != nullptr; }
    // The easy handle, with the options of the last transfer reset; the
    // connection cache is kept.
    CURL* Prepare();
    // Runs the transfer set up on Prepare()'s handle to its end, or for
    // nTimeoutSeconds at most (CURLE_OPERATION_TIMEDOUT; the caller sets no
    // time-out of its own). When stop() becomes true, the transfer is
    // abandoned and *pbStopped set.
    // TLS: the receiver's certificate is checked against strCaFile (empty:
    // the system's CAs), or not at all when bInsecure (asked for).
    void VerifyPeer(const std::string& strCaFile, bool bInsecure);
    CURLcode Perform(const std::function<bool()>& stop, int nTimeoutSeconds,
                     bool* pbStopped);
    // libcurl's own words for the last failure (may name the host; the
    // caller hides its secrets before keeping them).
    std::string ErrorText() const { return m_szError; }

    // The operator's reason for a failed transfer: "CONNECTION REFUSED",
    // "TIMED OUT AFTER 10 S", "TLS CERTIFICATE NOT TRUSTED", ...
    std::string FailureReason(CURLcode code, int nTimeoutSeconds) const;

  private:
    // Every socket libcurl opens and closes goes through these, so that a
    // stop can shut down the ones open (and only those).
    static curl_socket_t OnOpenSocket(void* pSelf, curlsocktype purpose,
                                      curl_sockaddr* pAddress);
    static int OnCloseSocket(void* pSelf, curl_socket_t fd);

    CURL* m_pEasy = nullptr;
    CURLM* m_pMulti = nullptr;
    char m_szError[CURL_ERROR_SIZE] = {};
    std::vector<curl_socket_t> m_sockets; // open, of this session's connections
};
