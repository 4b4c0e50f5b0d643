// CMqttSender against a real mosquitto broker on 127.0.0.1.
#include "delivery/MqttSender.h"
#include "delivery/Receivers.h"

#include <gtest/gtest.h>

#include <csignal>
#include <thread>

namespace {

constexpr int kWaitMs = 10000;

COutgoing Page(int nIndex, const std::string& strPager = "1200") {
    COutgoing page;
    page.strId = "p-" + std::to_string(nIndex);
    page.strPager = strPager;
    page.strMessage = "Message " + std::to_string(nIndex) + " für Station 7";
    page.nPort = 2;
    page.strTime = "2024-05-01T10:00:00";
    page.strRecord = "{\"id\":\"" + page.strId + "\",\"pager\":\"" + strPager +
                     "\",\"message\":\"" + page.strMessage + "\"}";
    return page;
}

std::vector<COutgoing> Pages(int nCount) {
    std::vector<COutgoing> pages;
    for (int i = 0; i < nCount; ++i)
        pages.push_back(Page(i));
    return pages;
}

class SenderMqtt : public ::testing::Test {
  protected:
    void SetUp() override {
        std::string strError;
        ASSERT_TRUE(m_broker.Start(m_options, &strError)) << strError;
        m_target.scheme = TargetScheme::kMqtt;
        m_target.strHost = "127.0.0.1";
        m_target.nPort = m_broker.Port();
        m_target.strPath = "paging/{port}/{pager}";
        m_target.nTimeoutSeconds = 5;
    }
    void Subscribe() {
        std::string strError;
        ASSERT_TRUE(m_subscriber.Start(m_broker.Port(), "paging/#", &strError,
                                       m_options.strUser, m_options.strPassword))
            << strError;
    }

    CMosquittoBroker::COptions m_options;
    CMosquittoBroker m_broker;
    CMqttSubscriber m_subscriber;
    CTargetConfig m_target;
};

void ExpectAll(const std::vector<CSendResult>& results, SendOutcome outcome,
               const std::string& strReason) {
    for (const CSendResult& result : results) {
        EXPECT_EQ(outcome, result.outcome);
        EXPECT_EQ(strReason, result.strReason);
    }
}

} // namespace

TEST_F(SenderMqtt, EachQosIsConfirmedAndTheSubscriberGetsTheRecord) {
    Subscribe();
    for (int nQos : {0, 1, 2}) {
        SCOPED_TRACE("QoS " + std::to_string(nQos));
        m_target.nQos = nQos;
        CMqttSender sender(m_target);
        const size_t nBefore = m_subscriber.Received().size();
        const std::vector<COutgoing> pages = Pages(3);
        const std::vector<CSendResult> results = sender.Send(pages);
        ASSERT_EQ(3u, results.size());
        ExpectAll(results, SendOutcome::kDelivered, "");
        ASSERT_TRUE(m_subscriber.WaitFor(nBefore + 3, kWaitMs));
        const std::vector<CMqttMessage> messages = m_subscriber.Received();
        for (size_t i = 0; i < 3; ++i) {
            const CMqttMessage& message = messages[nBefore + i];
            EXPECT_EQ("paging/2/1200", message.strTopic);
            EXPECT_EQ(pages[i].strRecord, message.strPayload);
            EXPECT_EQ(nQos, message.nQos);
            EXPECT_FALSE(message.bRetain);
        }
    }
}

TEST_F(SenderMqtt, BodyTextSendsTheMessageAloneOnASafeTopic) {
    Subscribe();
    m_target.bBodyText = true;
    m_target.nQos = 2;
    CMqttSender sender(m_target);
    const COutgoing page = Page(1, "12/+#");
    ASSERT_EQ(SendOutcome::kDelivered, sender.Send({page}).at(0).outcome);
    ASSERT_TRUE(m_subscriber.WaitFor(1, kWaitMs));
    EXPECT_EQ("paging/2/12___", m_subscriber.Received()[0].strTopic);
    EXPECT_EQ(page.strMessage, m_subscriber.Received()[0].strPayload);
}

TEST_F(SenderMqtt, ABatchLargerThanTheWindowArrivesWholeAndInOrder) {
    Subscribe();
    CMqttSender sender(m_target);
    const std::vector<COutgoing> pages = Pages(2500);
    const std::vector<CSendResult> results = sender.Send(pages);
    ExpectAll(results, SendOutcome::kDelivered, "");
    ASSERT_TRUE(m_subscriber.WaitFor(pages.size(), kWaitMs));
    const std::vector<CMqttMessage> messages = m_subscriber.Received();
    for (size_t i = 0; i < pages.size(); ++i)
        ASSERT_EQ(pages[i].strRecord, messages[i].strPayload) << i;
}

TEST_F(SenderMqtt, NoBrokerIsRetriedAsRefused) {
    m_broker.Stop();
    CMqttSender sender(m_target);
    ExpectAll(sender.Send(Pages(2)), SendOutcome::kRetry, "CONNECTION REFUSED");
}

TEST_F(SenderMqtt, ABrokerThatNeverAnswersTimesOut) {
    // A listener nobody accepts on: the connection is made, no CONNACK
    // ever comes.
    const CSilentListener silent;
    ASSERT_NE(0, silent.Port());
    m_target.nPort = silent.Port();
    m_target.nTimeoutSeconds = 1;
    CMqttSender sender(m_target);
    ExpectAll(sender.Send(Pages(1)), SendOutcome::kRetry, "TIMED OUT AFTER 1 S");
}

TEST_F(SenderMqtt, UnconfirmedMessagesTimeOutAndTheNextBatchReconnects) {
    m_target.nTimeoutSeconds = 1;
    CMqttSender sender(m_target);
    ASSERT_EQ(SendOutcome::kDelivered, sender.Send(Pages(1)).at(0).outcome);
    // A frozen broker keeps the connection but confirms nothing.
    ASSERT_EQ(0, kill(m_broker.Pid(), SIGSTOP));
    ExpectAll(sender.Send(Pages(3)), SendOutcome::kRetry, "TIMED OUT AFTER 1 S");
    ASSERT_EQ(0, kill(m_broker.Pid(), SIGCONT));
    Subscribe();
    ExpectAll(sender.Send(Pages(2)), SendOutcome::kDelivered, "");
}

TEST_F(SenderMqtt, ABrokerRestartedBetweenBatchesIsReconnectedAtOnce) {
    CMqttSender sender(m_target);
    ASSERT_EQ(SendOutcome::kDelivered, sender.Send(Pages(1)).at(0).outcome);
    m_broker.Stop();
    CMosquittoBroker::COptions again = m_options;
    again.nPort = m_broker.Port();
    std::string strError;
    ASSERT_TRUE(m_broker.Start(again, &strError)) << strError;
    ExpectAll(sender.Send(Pages(2)), SendOutcome::kDelivered, "");
}

TEST_F(SenderMqtt, StopEndsAConnectionAttemptInFlight) {
    const CSilentListener silent;
    m_target.nPort = silent.Port();
    m_target.nTimeoutSeconds = 60;
    CMqttSender sender(m_target);
    std::thread stopper([&] {
        // The sender is connecting and waits for a CONNACK that never comes.
        EXPECT_TRUE(silent.WaitForConnection(kWaitMs));
        sender.RequestStop();
    });
    const std::vector<CSendResult> results = sender.Send(Pages(2));
    stopper.join();
    ExpectAll(results, SendOutcome::kRetry, "STOPPED");
}

class SenderMqttLogin : public SenderMqtt {
  protected:
    void SetUp() override {
        m_options.strUser = "ward7";
        m_options.strPassword = "pa55-w0rd";
        SenderMqtt::SetUp();
        m_target.strUser = m_options.strUser;
    }
};

TEST_F(SenderMqttLogin, AWrongPasswordIsRetriedAsNotAuthorised) {
    m_target.strPassword = "wrong";
    CMqttSender refused(m_target);
    ExpectAll(refused.Send(Pages(2)), SendOutcome::kRetry, "NOT AUTHORISED");

    m_target.strPassword = m_options.strPassword;
    CMqttSender admitted(m_target);
    ExpectAll(admitted.Send(Pages(2)), SendOutcome::kDelivered, "");
}

class SenderMqtts : public SenderMqtt {
  protected:
    void SetUp() override {
        m_options.bTls = true;
        SenderMqtt::SetUp();
        m_target.scheme = TargetScheme::kMqtts;
        m_target.nPort = m_broker.TlsPort();
    }
};

TEST_F(SenderMqtts, TheBrokersCaIsTrusted) {
    Subscribe();
    m_target.strCaFile = m_broker.CaFile();
    CMqttSender sender(m_target);
    ExpectAll(sender.Send(Pages(2)), SendOutcome::kDelivered, "");
    EXPECT_TRUE(m_subscriber.WaitFor(2, kWaitMs));
}

TEST_F(SenderMqtts, AnotherCaIsRetriedUnlessInsecure) {
    Subscribe();
    m_target.strCaFile = m_broker.OtherCaFile();
    CMqttSender refused(m_target);
    const std::vector<CSendResult> results = refused.Send(Pages(1));
    EXPECT_EQ(SendOutcome::kRetry, results[0].outcome);
    EXPECT_EQ("TLS HANDSHAKE FAILED", results[0].strReason);
    EXPECT_NE(std::string::npos, results[0].strDetail.find("certificate verify failed"))
        << results[0].strDetail;
    EXPECT_TRUE(m_subscriber.Received().empty());

    m_target.bInsecure = true;
    CMqttSender insecure(m_target);
    ExpectAll(insecure.Send(Pages(1)), SendOutcome::kDelivered, "");
}
