// CHttpSender against http_receiver.py on 127.0.0.1.
#include "delivery/HttpSender.h"
#include "delivery/Receivers.h"
#include "delivery/SenderText.h"

#include <gtest/gtest.h>

#include <ctime>
#include <thread>

namespace {

constexpr int kWaitMs = 10000;

COutgoing Page(int nIndex) {
    COutgoing page;
    page.strId = "0a1b2c3d-" + std::to_string(nIndex);
    page.strPager = "1200";
    page.strMessage = "Ärger in Station " + std::to_string(nIndex);
    page.nPort = 1;
    page.strTime = "2024-05-01T10:00:00";
    page.strRecord =
        "{\"id\":\"" + page.strId + "\",\"message\":\"" + page.strMessage + "\"}";
    return page;
}

class SenderHttp : public ::testing::Test {
  protected:
    void SetUp() override {
        std::string strError;
        ASSERT_TRUE(m_receiver.Start(&strError)) << strError;
        m_target.scheme = TargetScheme::kHttp;
        m_target.nTimeoutSeconds = 5;
    }
    CSendResult SendTo(const std::string& strPath) {
        m_target.strUrl = m_receiver.Url(strPath);
        CHttpSender sender(m_target);
        return sender.Send({Page(1)}).at(0);
    }

    CHttpReceiver m_receiver;
    CTargetConfig m_target;
};

// An HTTP date the given number of seconds from now.
std::string HttpDate(int nSeconds) {
    const std::time_t when = std::time(nullptr) + nSeconds;
    struct tm utc {};
    gmtime_r(&when, &utc);
    char szDate[64];
    std::strftime(szDate, sizeof szDate, "%a,%%20%d%%20%b%%20%Y%%20%H:%M:%S%%20GMT",
                  &utc);
    return szDate;
}

} // namespace

TEST_F(SenderHttp, PostsTheRecordAsJsonWithItsKeyAndAuthorization) {
    m_target.strUrl = m_receiver.Url("/pages");
    m_target.strAuthorization = "Bearer tok-123";
    CHttpSender sender(m_target);
    const std::vector<CSendResult> results = sender.Send({Page(1), Page(2)});
    ASSERT_EQ(2u, results.size());
    for (const CSendResult& result : results) {
        EXPECT_EQ(SendOutcome::kDelivered, result.outcome);
        EXPECT_EQ("", result.strReason);
    }
    const std::vector<CHttpRequest> requests = m_receiver.Received();
    ASSERT_EQ(2u, requests.size());
    for (int i = 0; i < 2; ++i) {
        const CHttpRequest& request = requests[i];
        EXPECT_EQ("POST", request.strMethod);
        EXPECT_EQ("/pages", request.strPath);
        EXPECT_EQ("application/json", request.Header("Content-Type"));
        EXPECT_EQ(Page(i + 1).strId, request.Header("Idempotency-Key"));
        EXPECT_EQ("Bearer tok-123", request.Header("Authorization"));
        EXPECT_FALSE(request.HasHeader("Title"));
        EXPECT_EQ(Page(i + 1).strRecord, request.strBody);
    }
    // Both pages went over one connection.
    EXPECT_EQ(requests[0].strClient, requests[1].strClient);
}

TEST_F(SenderHttp, BodyTextPostsTheMessageWithATitle) {
    m_target.strUrl = m_receiver.Url("/notify");
    m_target.bBodyText = true;
    COutgoing odd = Page(2);
    odd.strPager = "12\r\nX-Injected: 1";
    CHttpSender sender(m_target);
    for (const CSendResult& result : sender.Send({Page(1), odd}))
        ASSERT_EQ(SendOutcome::kDelivered, result.outcome);
    const std::vector<CHttpRequest> requests = m_receiver.Received();
    ASSERT_EQ(2u, requests.size());
    EXPECT_EQ("text/plain; charset=utf-8", requests[0].Header("Content-Type"));
    EXPECT_EQ("Page for 1200", requests[0].Header("Title"));
    EXPECT_EQ(Page(1).strMessage, requests[0].strBody);
    EXPECT_FALSE(requests[0].HasHeader("Authorization"));
    // A pager ID cannot add a header of its own.
    EXPECT_EQ("Page for 12  X-Injected: 1", requests[1].Header("Title"));
    EXPECT_FALSE(requests[1].HasHeader("X-Injected"));
}

TEST_F(SenderHttp, BusyAndFailingServersAreRetriedWhenTheySay) {
    struct {
        std::string strPath;
        std::string strReason;
        std::int64_t nLeastMs, nMostMs;
    } const cases[] = {
        {"/status/500", "HTTP 500 Internal Server Error", -1, -1},
        {"/status/503", "HTTP 503 Service Unavailable", -1, -1},
        {"/status/408", "HTTP 408 Request Timeout", -1, -1},
        {"/status/429?retry_after=7", "HTTP 429 Too Many Requests", 7000, 7000},
        {"/status/503?retry_after=" + HttpDate(60), "HTTP 503 Service Unavailable",
         55000, 61000},
        {"/status/503?retry_after=soon", "HTTP 503 Service Unavailable", -1, -1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.strPath);
        const CSendResult result = SendTo(c.strPath);
        EXPECT_EQ(SendOutcome::kRetry, result.outcome);
        EXPECT_EQ(c.strReason, result.strReason);
        EXPECT_GE(result.nRetryAfterMs, c.nLeastMs);
        EXPECT_LE(result.nRetryAfterMs, c.nMostMs);
    }
}

TEST_F(SenderHttp, OtherAnswersFailWithTheStatusAndTheBody) {
    for (const char* pszCode : {"400", "404", "301"}) {
        SCOPED_TRACE(pszCode);
        const CSendResult result = SendTo(std::string("/status/") + pszCode);
        EXPECT_EQ(SendOutcome::kFailed, result.outcome);
        EXPECT_EQ(0u, result.strReason.find(std::string("HTTP ") + pszCode + " "));
        EXPECT_EQ(std::string("status ") + pszCode + " for POST /status/" + pszCode +
                      "\n",
                  result.strDetail);
        EXPECT_EQ(-1, result.nRetryAfterMs);
    }
    EXPECT_EQ("HTTP 400 Bad Request", SendTo("/status/400").strReason);
}

TEST_F(SenderHttp, ALongBodyIsCutToOneKilobyte) {
    // The answer's body repeats the path.
    const CSendResult result = SendTo("/status/400?pad=" + std::string(1500, 'x'));
    EXPECT_EQ(SendOutcome::kFailed, result.outcome);
    EXPECT_LE(result.strDetail.size(), 1024u);
    EXPECT_GT(result.strDetail.size(), 1000u);
}

TEST_F(SenderHttp, AfterARetryTheRestOfTheBatchWaitsButAFailureDoesNot) {
    m_target.strUrl = m_receiver.Url("/pages");
    m_receiver.SetControl("503");
    CHttpSender sender(m_target);
    for (const CSendResult& result : sender.Send({Page(1), Page(2), Page(3)}))
        EXPECT_EQ("HTTP 503 Service Unavailable", result.strReason);
    EXPECT_EQ(1u, m_receiver.Received().size());

    m_receiver.SetControl("400");
    for (const CSendResult& result : sender.Send({Page(1), Page(2), Page(3)}))
        EXPECT_EQ(SendOutcome::kFailed, result.outcome);
    EXPECT_EQ(4u, m_receiver.Received().size());
}

TEST_F(SenderHttp, BrokenPeersAreRetried) {
    const struct {
        const char* pszPath;
        const char* pszReason;
    } cases[] = {
        {"/close", "CLOSED WITHOUT AN ANSWER"},
        {"/garbage", "GARBLED ANSWER"},
        {"/partial", "CONNECTION LOST"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.pszPath);
        const CSendResult result = SendTo(c.pszPath);
        EXPECT_EQ(SendOutcome::kRetry, result.outcome);
        EXPECT_EQ(c.pszReason, result.strReason);
    }
}

TEST_F(SenderHttp, AServerThatNeverAnswersTimesOut) {
    m_target.nTimeoutSeconds = 1;
    const CSendResult result = SendTo("/hang");
    EXPECT_EQ(SendOutcome::kRetry, result.outcome);
    EXPECT_EQ("TIMED OUT AFTER 1 S", result.strReason);
}

TEST_F(SenderHttp, NoServerIsRetriedAsRefused) {
    m_receiver.Stop();
    const CSendResult result = SendTo("/pages");
    EXPECT_EQ(SendOutcome::kRetry, result.outcome);
    EXPECT_EQ("CONNECTION REFUSED", result.strReason);
}

TEST_F(SenderHttp, StopEndsARequestInFlight) {
    m_target.strUrl = m_receiver.Url("/hang");
    m_target.nTimeoutSeconds = 60;
    CHttpSender sender(m_target);
    std::thread stopper([&] {
        EXPECT_TRUE(m_receiver.WaitFor(1, kWaitMs));
        sender.RequestStop();
    });
    const std::vector<CSendResult> results = sender.Send({Page(1), Page(2)});
    stopper.join();
    ASSERT_EQ(1u, m_receiver.Received().size());
    for (const CSendResult& result : results) {
        EXPECT_EQ(SendOutcome::kRetry, result.outcome);
        EXPECT_EQ("STOPPED", result.strReason);
    }
}

TEST_F(SenderHttp, SecretsNeverReachTheResult) {
    const std::string strPassword = "s3cret-pw";
    const std::string strToken = "tok-5551212";
    m_target.strAuthorization = "Bearer " + strToken;
    const std::vector<std::string> secrets = {strPassword, strToken,
                                              Base64("ward7:" + strPassword)};
    auto expectClean = [&](const CSendResult& result) {
        for (const std::string& strSecret : secrets) {
            EXPECT_EQ(std::string::npos, result.strReason.find(strSecret))
                << result.strReason;
            EXPECT_EQ(std::string::npos, result.strDetail.find(strSecret))
                << result.strDetail;
        }
    };
    // A server that repeats the request's headers in its answer.
    const std::string strAuthority = "ward7:" + strPassword + "@127.0.0.1:";
    m_target.strUrl = "http://" + strAuthority + std::to_string(m_receiver.Port()) +
                      "/status/400?echo=1";
    CHttpSender echoed(m_target);
    const CSendResult result = echoed.Send({Page(1)}).at(0);
    EXPECT_EQ(SendOutcome::kFailed, result.outcome);
    EXPECT_NE(std::string::npos, result.strDetail.find("Authorization: ***"))
        << result.strDetail;
    expectClean(result);

    m_target.bBodyText = true;
    m_target.strAuthorization.clear();
    CHttpSender basic(m_target);
    expectClean(basic.Send({Page(1)}).at(0));

    m_receiver.Stop();
    CHttpSender refused(m_target);
    expectClean(refused.Send({Page(1)}).at(0));
}

class SenderHttps : public SenderHttp {
  protected:
    void SetUp() override {
        std::string strError;
        ASSERT_TRUE(m_receiver.Start(&strError, true)) << strError;
        m_target.scheme = TargetScheme::kHttps;
        m_target.nTimeoutSeconds = 5;
    }
};

TEST_F(SenderHttps, TheServersCaIsTrustedAndAnotherIsNot) {
    m_target.strCaFile = m_receiver.CaFile();
    EXPECT_EQ(SendOutcome::kDelivered, SendTo("/pages").outcome);

    m_target.strCaFile = m_receiver.OtherCaFile();
    const CSendResult result = SendTo("/pages");
    EXPECT_EQ(SendOutcome::kRetry, result.outcome);
    EXPECT_EQ("TLS CERTIFICATE NOT TRUSTED", result.strReason);

    m_target.bInsecure = true;
    EXPECT_EQ(SendOutcome::kDelivered, SendTo("/pages").outcome);
    EXPECT_EQ(2u, m_receiver.Received().size());
}
