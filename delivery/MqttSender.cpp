#include "delivery/MqttSender.h"

#include "delivery/SenderText.h"

#include <mosquitto.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <deque>
#include <mutex>

namespace {

constexpr int kKeepAliveSeconds = 60;
// Messages handed to libmosquitto and not yet confirmed, at most. Enough to
// keep a local broker busy; a batch larger than this goes as confirmations
// make room, each message timed from its own publish.
constexpr int kMaxInFlight = 1000;
// The longest step of the network loop: how soon a stop request is seen.
constexpr int kStepMs = 50;
// libmosquitto's cert_reqs, as OpenSSL's SSL_VERIFY_NONE and _PEER.
constexpr int kVerifyNone = 0;
constexpr int kVerifyPeer = 1;
// Where the system keeps the certificates it trusts.
constexpr const char* kSystemCaPath = "/etc/ssl/certs";
// CONNACK return codes of MQTT 3.1.1.
constexpr int kConnackBadProtocol = 1;
constexpr int kConnackBadClientId = 2;
constexpr int kConnackUnavailable = 3;
constexpr int kConnackBadCredentials = 4;
constexpr int kConnackNotAuthorised = 5;

std::once_flag g_mosquittoInit;

std::string ConnackReason(int nCode) {
    switch (nCode) {
    case kConnackBadProtocol: return "PROTOCOL VERSION REFUSED";
    case kConnackBadClientId: return "CLIENT ID REFUSED";
    case kConnackUnavailable: return "BROKER UNAVAILABLE";
    case kConnackBadCredentials:
    case kConnackNotAuthorised: return "NOT AUTHORISED";
    default: return "CONNECTION REFUSED BY THE BROKER (" + std::to_string(nCode) + ")";
    }
}

} // namespace

CMqttSender::CMqttSender(const CTargetConfig& target) : m_target(target) {
    std::call_once(g_mosquittoInit, [] { mosquitto_lib_init(); });
}

CMqttSender::~CMqttSender() {
    Drop();
}

std::vector<CSendResult> CMqttSender::Send(const std::vector<COutgoing>& pages) {
    std::vector<CSendResult> results(pages.size());
    if (pages.empty())
        return results;
    CSendResult ending; // every page's, when the batch cannot go
    if (StopRequested()) {
        ending.strReason = "STOPPED";
        std::fill(results.begin(), results.end(), ending);
        return results;
    }
    CheckKeptConnection();
    const bool bKept = m_bConnected;
    if (!m_bConnected && !Connect(&ending)) {
        std::fill(results.begin(), results.end(), ending);
        return results;
    }
    bool bLostAtOnce = false;
    results = Publish(pages, &bLostAtOnce);
    // A kept connection can be dead without a word having come (a broker
    // restarted, a network that dropped it): once more on a new one.
    if (bLostAtOnce && bKept && !StopRequested()) {
        if (!Connect(&ending)) {
            std::fill(results.begin(), results.end(), ending);
            return results;
        }
        results = Publish(pages, &bLostAtOnce);
    }
    return results;
}

std::vector<CSendResult> CMqttSender::Publish(const std::vector<COutgoing>& pages,
                                              bool* pbLostAtOnce) {
    std::vector<CSendResult> results(pages.size());
    CSendResult ending; // what every page not settled yet gets at the end
    bool bLost = false;
    m_inFlight.clear();
    m_confirmedEarly.clear();
    m_justConfirmed.clear();
    std::vector<bool> settled(pages.size(), false);
    size_t nOpen = pages.size();
    auto settle = [&](size_t nPage, SendOutcome outcome, const char* pszReason) {
        if (settled[nPage])
            return;
        settled[nPage] = true;
        results[nPage].outcome = outcome;
        results[nPage].strReason = pszReason;
        --nOpen;
    };
    // Pages published and not settled, oldest first, with when they went.
    std::deque<std::pair<size_t, Clock::time_point>> sent;
    const auto timeout = std::chrono::seconds(m_target.nTimeoutSeconds);
    size_t nNext = 0;
    bool bEnded = false;
    while (nOpen > 0 && !bEnded) {
        while (nNext < pages.size() &&
               m_inFlight.size() < static_cast<size_t>(kMaxInFlight)) {
            const COutgoing& page = pages[nNext];
            const std::string strTopic =
                FillTopic(m_target.strPath, page.strPager, page.nPort);
            const std::string& strPayload =
                m_target.bBodyText ? page.strMessage : page.strRecord;
            if (strPayload.size() > static_cast<size_t>(INT_MAX)) {
                settle(nNext++, SendOutcome::kFailed, "MESSAGE TOO LARGE");
                continue;
            }
            int nMid = 0;
            errno = 0;
            const int nResult = mosquitto_publish(
                m_pClient, &nMid, strTopic.c_str(), static_cast<int>(strPayload.size()),
                strPayload.data(), m_target.nQos, false);
            if (nResult == MOSQ_ERR_SUCCESS) {
                if (m_confirmedEarly.erase(nMid) > 0) {
                    settle(nNext, SendOutcome::kDelivered, "");
                } else {
                    m_inFlight[nMid] = nNext;
                    sent.emplace_back(nNext, Clock::now());
                }
            } else if (nResult == MOSQ_ERR_INVAL ||
                       nResult == MOSQ_ERR_MALFORMED_UTF8) {
                settle(nNext, SendOutcome::kFailed, "INVALID TOPIC");
            } else if (nResult == MOSQ_ERR_PAYLOAD_SIZE ||
                       nResult == MOSQ_ERR_OVERSIZE_PACKET) {
                settle(nNext, SendOutcome::kFailed, "MESSAGE TOO LARGE");
            } else {
                ending.strReason = ErrorReason(nResult, errno);
                bEnded = true;
                bLost = true;
                break;
            }
            ++nNext;
        }
        for (size_t nPage : m_justConfirmed)
            settle(nPage, SendOutcome::kDelivered, "");
        m_justConfirmed.clear();
        if (bEnded || nOpen == 0)
            break;
        if (StopRequested()) {
            ending.strReason = "STOPPED";
            break;
        }
        while (!sent.empty() && settled[sent.front().first])
            sent.pop_front();
        int nWaitMs = kStepMs;
        if (!sent.empty()) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                sent.front().second + timeout - Clock::now());
            if (left.count() <= 0) {
                ending.strReason = TimedOut();
                break;
            }
            nWaitMs = static_cast<int>(std::min<long long>(nWaitMs, left.count() + 1));
        }
        std::string strWhy;
        if (!Step(nWaitMs, &strWhy)) {
            ending.strReason = strWhy;
            bEnded = true;
            bLost = true;
        }
        for (size_t nPage : m_justConfirmed)
            settle(nPage, SendOutcome::kDelivered, "");
        m_justConfirmed.clear();
    }
    *pbLostAtOnce =
        bLost && std::none_of(results.begin(), results.end(), [](const auto& r) {
            return r.outcome == SendOutcome::kDelivered;
        });
    if (nOpen > 0) {
        for (size_t i = 0; i < pages.size(); ++i) {
            if (!settled[i])
                results[i] = ending;
        }
        // What is still in flight belongs to a batch that has ended: a new
        // connection starts the next one clean.
        Drop();
    }
    m_inFlight.clear();
    return results;
}

void CMqttSender::CheckKeptConnection() {
    if (m_pClient == nullptr || !m_bConnected) {
        Drop();
        return;
    }
    // Idle past the keep-alive, the broker may have let the connection go
    // without a word reaching us: start afresh rather than find out by
    // losing a batch. Otherwise a step reads what is waiting, a broker
    // that closed the connection among it.
    std::string strWhy;
    if (Clock::now() - m_lastStep > std::chrono::seconds(kKeepAliveSeconds) ||
        !Step(0, &strWhy))
        Drop();
}

bool CMqttSender::Connect(CSendResult* pFailure) {
    Drop();
    m_pClient = mosquitto_new(nullptr, true, this);
    if (m_pClient == nullptr) {
        pFailure->strReason = "OUT OF MEMORY";
        return false;
    }
    mosquitto_int_option(m_pClient, MOSQ_OPT_PROTOCOL_VERSION, MQTT_PROTOCOL_V311);
    mosquitto_int_option(m_pClient, MOSQ_OPT_SEND_MAXIMUM, kMaxInFlight);
    mosquitto_int_option(m_pClient, MOSQ_OPT_TCP_NODELAY, 1);
    mosquitto_connect_callback_set(m_pClient, OnConnect);
    mosquitto_disconnect_callback_set(m_pClient, OnDisconnect);
    mosquitto_publish_callback_set(m_pClient, OnPublish);
    mosquitto_log_callback_set(m_pClient, OnLog);
    if (!m_target.strUser.empty()) {
        mosquitto_username_pw_set(
            m_pClient, m_target.strUser.c_str(),
            m_target.strPassword.empty() ? nullptr : m_target.strPassword.c_str());
    }
    if (m_target.scheme == TargetScheme::kMqtts) {
        const bool bOwnCa = !m_target.strCaFile.empty();
        if (mosquitto_tls_set(m_pClient, bOwnCa ? m_target.strCaFile.c_str() : nullptr,
                              bOwnCa ? nullptr : kSystemCaPath, nullptr, nullptr,
                              nullptr) != MOSQ_ERR_SUCCESS) {
            pFailure->strReason = "CANNOT READ THE CA FILE";
            Drop();
            return false;
        }
        mosquitto_tls_opts_set(m_pClient,
                               m_target.bInsecure ? kVerifyNone : kVerifyPeer, nullptr,
                               nullptr);
        if (m_target.bInsecure)
            mosquitto_tls_insecure_set(m_pClient, true);
    }
    m_nConnectResult = -1;
    m_bLost = false;
    m_strLastError.clear();
    m_lastStep = Clock::now();
    errno = 0;
    const int nResult = mosquitto_connect_async(m_pClient, m_target.strHost.c_str(),
                                                m_target.nPort, kKeepAliveSeconds);
    std::string strWhy;
    if (nResult != MOSQ_ERR_SUCCESS) {
        strWhy = ErrorReason(nResult, errno);
    } else {
        const Clock::time_point deadline =
            Clock::now() + std::chrono::seconds(m_target.nTimeoutSeconds);
        while (m_nConnectResult < 0 && strWhy.empty()) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - Clock::now());
            if (StopRequested())
                strWhy = "STOPPED";
            else if (left.count() <= 0)
                strWhy = TimedOut();
            else
                Step(static_cast<int>(std::min<long long>(kStepMs, left.count() + 1)),
                     &strWhy);
        }
        if (strWhy.empty() && m_nConnectResult != 0)
            strWhy = ConnackReason(m_nConnectResult);
    }
    if (!strWhy.empty()) {
        pFailure->strReason = strWhy;
        pFailure->strDetail = Excerpt(m_strLastError, 1024);
        Drop();
        return false;
    }
    m_bConnected = true;
    return true;
}

void CMqttSender::Drop() {
    if (m_pClient != nullptr) {
        if (m_bConnected)
            mosquitto_disconnect(m_pClient);
        mosquitto_destroy(m_pClient);
    }
    m_pClient = nullptr;
    m_bConnected = false;
}

bool CMqttSender::Step(int nTimeoutMs, std::string* pstrReason) {
    errno = 0;
    const int nResult = mosquitto_loop(m_pClient, nTimeoutMs, 1);
    const int nErrno = errno;
    m_lastStep = Clock::now();
    if (m_nConnectResult > 0) {
        *pstrReason = ConnackReason(m_nConnectResult);
        return false;
    }
    if (nResult != MOSQ_ERR_SUCCESS) {
        *pstrReason = ErrorReason(nResult, nErrno);
        return false;
    }
    if (m_bLost) {
        *pstrReason = "CONNECTION LOST";
        return false;
    }
    return true;
}

std::string CMqttSender::ErrorReason(int nError, int nErrno) const {
    switch (nError) {
    case MOSQ_ERR_ERRNO:
        switch (nErrno) {
        case ECONNREFUSED: return "CONNECTION REFUSED";
        case ECONNRESET:
        case EPIPE: return "CONNECTION LOST";
        case EHOSTUNREACH:
        case ENETUNREACH: return "HOST UNREACHABLE";
        case 0: return "CONNECTION LOST";
        default: return "CANNOT CONNECT: " + UpperCase(std::strerror(nErrno));
        }
    case MOSQ_ERR_NO_CONN:
    case MOSQ_ERR_CONN_LOST:
    case MOSQ_ERR_KEEPALIVE: return "CONNECTION LOST";
    case MOSQ_ERR_EAI: return "HOST NOT FOUND";
    case MOSQ_ERR_TLS: return "TLS HANDSHAKE FAILED";
    case MOSQ_ERR_CONN_REFUSED:
        return m_nConnectResult > 0 ? ConnackReason(m_nConnectResult)
                                    : "CONNECTION REFUSED";
    case MOSQ_ERR_NOMEM: return "OUT OF MEMORY";
    case MOSQ_ERR_PROTOCOL: return "PROTOCOL ERROR";
    default: return UpperCase(mosquitto_strerror(nError));
    }
}

std::string CMqttSender::TimedOut() const {
    return "TIMED OUT AFTER " + std::to_string(m_target.nTimeoutSeconds) + " S";
}

void CMqttSender::OnConnect(mosquitto*, void* pSelf, int nResult) {
    static_cast<CMqttSender*>(pSelf)->m_nConnectResult = nResult;
}

void CMqttSender::OnDisconnect(mosquitto*, void* pSelf, int nResult) {
    CMqttSender& self = *static_cast<CMqttSender*>(pSelf);
    self.m_bConnected = false;
    // 0: our own DISCONNECT; anything else: the connection went.
    if (nResult != 0)
        self.m_bLost = true;
}

void CMqttSender::OnPublish(mosquitto*, void* pSelf, int nMid) {
    CMqttSender& self = *static_cast<CMqttSender*>(pSelf);
    const auto found = self.m_inFlight.find(nMid);
    if (found == self.m_inFlight.end()) {
        self.m_confirmedEarly.insert(nMid);
        return;
    }
    self.m_justConfirmed.push_back(found->second);
    self.m_inFlight.erase(found);
}

void CMqttSender::OnLog(mosquitto*, void* pSelf, int nLevel, const char* pszText) {
    if (nLevel == MOSQ_LOG_ERR && pszText != nullptr)
        static_cast<CMqttSender*>(pSelf)->m_strLastError = pszText;
}
