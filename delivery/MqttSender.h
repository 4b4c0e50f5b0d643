// CMqttSender: pages published to an MQTT broker (mqtt://, or mqtts:// over
// TLS), one message each on the target's topic with {pager} and {port}
// filled in, at the target's QoS and never retained.
//
// The connection is kept between calls and made anew when it was lost or
// stayed idle past its keep-alive. A batch goes with many messages in
// flight at once; a message is delivered when the broker confirmed it
// (PUBACK at QoS 1, PUBCOMP at QoS 2; at QoS 0 once it is written to the
// connection), and tried again when it was not confirmed within the
// target's Timeout, when the connection broke, or when the broker refused
// the connection (its settings or the credentials may be fixed on the
// broker's side).
//
// libmosquitto runs no thread of its own here: the calling thread drives
// its network loop in short steps, so every callback runs on the worker
// thread inside Send, and a stop request is seen within 50 ms. Called from
// its target's worker thread only (RequestStop from any).
#pragma once

#include "delivery/Sender.h"
#include "delivery/TargetConfig.h"

#include <chrono>
#include <unordered_map>
#include <unordered_set>

struct mosquitto;

class CMqttSender : public ISender {
  public:
    using Clock = std::chrono::steady_clock;

    explicit CMqttSender(const CTargetConfig& target);
    ~CMqttSender() override;
    CMqttSender(const CMqttSender&) = delete;
    CMqttSender& operator=(const CMqttSender&) = delete;

    std::vector<CSendResult> Send(const std::vector<COutgoing>& pages) override;
    const char* Kind() const override { return "MQTT"; }

  private:
    // One batch on the connection there is. *pbLostAtOnce: the connection
    // broke before the broker confirmed any of it.
    std::vector<CSendResult> Publish(const std::vector<COutgoing>& pages,
                                     bool* pbLostAtOnce);
    // A new client connected to the broker, or false with why not.
    bool Connect(CSendResult* pFailure);
    // Makes sure the kept connection still works, before a batch.
    void CheckKeptConnection();
    void Drop();
    // One step of libmosquitto's network loop; false, with why, when the
    // connection is gone.
    bool Step(int nTimeoutMs, std::string* pstrReason);
    // The reason for a loop or connect error code of libmosquitto.
    std::string ErrorReason(int nError, int nErrno) const;
    std::string TimedOut() const;

    static void OnConnect(mosquitto* pClient, void* pSelf, int nResult);
    static void OnDisconnect(mosquitto* pClient, void* pSelf, int nResult);
    static void OnPublish(mosquitto* pClient, void* pSelf, int nMid);
    static void OnLog(mosquitto* pClient, void* pSelf, int nLevel, const char* pszText);

    const CTargetConfig m_target;
    mosquitto* m_pClient = nullptr;
    bool m_bConnected = false;
    int m_nConnectResult = -1; // the broker's CONNACK code; -1 before it came
    bool m_bLost = false;
    std::string m_strLastError; // libmosquitto's last error line (a TLS failure)
    Clock::time_point m_lastStep;

    // The batch in flight: message id to the page's place in it, and the
    // confirmations that came before their publish call returned (QoS 0).
    std::unordered_map<int, size_t> m_inFlight;
    std::unordered_set<int> m_confirmedEarly;
    std::vector<size_t> m_justConfirmed; // pages confirmed since Send last looked
};
