// CMailSender against smtp_receiver.py (aiosmtpd) on 127.0.0.1.
#include "delivery/MailSender.h"
#include "delivery/Receivers.h"
#include "delivery/SenderText.h"

#include <gtest/gtest.h>

#include <thread>

namespace {

constexpr int kWaitMs = 10000;

COutgoing Page(int nIndex, const std::string& strPager = "1200") {
    COutgoing page;
    page.strId = "0a1b2c3d-" + std::to_string(nIndex);
    page.strPager = strPager;
    page.strMessage = "Fire alarm\nStation 7, floor " + std::to_string(nIndex);
    page.nPort = 3;
    page.strTime = "2024-05-01T10:00:00";
    page.strRecord = "{}";
    return page;
}

class SenderMail : public ::testing::Test {
  protected:
    void SetUp() override { StartReceiver(); }
    void StartReceiver() {
        std::string strError;
        ASSERT_TRUE(m_receiver.Start(m_options, &strError)) << strError;
        m_target.scheme = TargetScheme::kSmtp;
        m_target.strHost = "127.0.0.1";
        m_target.nPort = m_receiver.Port();
        m_target.strMailFrom = "volnex@ward7.example";
        m_target.mailTo = {"desk@ward7.example", "Night Shift <night@ward7.example>"};
        m_target.nTimeoutSeconds = 5;
    }
    CSendResult SendOne(const COutgoing& page = Page(1)) {
        CMailSender sender(m_target);
        return sender.Send({page}).at(0);
    }

    CSmtpReceiver::COptions m_options;
    CSmtpReceiver m_receiver;
    CTargetConfig m_target;
};

} // namespace

TEST_F(SenderMail, MailsThePageWithItsHeadersAndLines) {
    const COutgoing page = Page(1);
    const CSendResult result = SendOne(page);
    ASSERT_EQ(SendOutcome::kDelivered, result.outcome) << result.strReason;
    const std::vector<CMail> mails = m_receiver.Received();
    ASSERT_EQ(1u, mails.size());
    const CMail& mail = mails[0];
    EXPECT_EQ("volnex@ward7.example", mail.strFrom);
    EXPECT_EQ((std::vector<std::string>{"desk@ward7.example", "night@ward7.example"}),
              mail.to);
    EXPECT_EQ("volnex@ward7.example", mail.Header("From"));
    EXPECT_EQ("desk@ward7.example, Night Shift <night@ward7.example>",
              mail.Header("To"));
    EXPECT_EQ("Page for 1200", mail.strSubject);
    EXPECT_EQ("<0a1b2c3d-1@ward7.example>", mail.Header("Message-ID"));
    EXPECT_EQ("1.0", mail.Header("MIME-Version"));
    EXPECT_EQ("text/plain; charset=utf-8", mail.Header("Content-Type"));
    EXPECT_EQ("8bit", mail.Header("Content-Transfer-Encoding"));
    EXPECT_FALSE(mail.Header("Date").empty());
    EXPECT_EQ(
        "Fire alarm\nStation 7, floor 1\n\nPager: 1200\nTime: 2024-05-01T10:00:00\n"
        "Port: COM3\nId: 0a1b2c3d-1\n",
        mail.strText);
}

TEST_F(SenderMail, AnUnusualSubjectOrBodyReachesTheReaderIntact) {
    m_target.strSubject = "Seite für {pager} – {pager}";
    COutgoing page = Page(2, "12\r\nBcc: intruder@example.org");
    // Over 998 bytes on one line, with a lone dot line and trailing blanks.
    page.strMessage = std::string(1200, 'a') + "ü\n.\nend  ";
    ASSERT_EQ(SendOutcome::kDelivered, SendOne(page).outcome);
    const std::vector<CMail> mails = m_receiver.Received();
    ASSERT_EQ(1u, mails.size());
    EXPECT_EQ("Seite für 12  Bcc: intruder@example.org – 12  Bcc: intruder@example.org",
              mails[0].strSubject);
    EXPECT_EQ("", mails[0].Header("Bcc"));
    EXPECT_EQ("quoted-printable", mails[0].Header("Content-Transfer-Encoding"));
    EXPECT_EQ((std::vector<std::string>{"desk@ward7.example", "night@ward7.example"}),
              mails[0].to);
    EXPECT_EQ(
        0u, mails[0].strText.find(std::string(1200, 'a') + "ü\n.\nend  \n\nPager: 12"));
}

TEST_F(SenderMail, TemporaryRefusalIsRetriedAndPermanentFails) {
    const struct {
        const char* pszControl;
        SendOutcome outcome;
        const char* pszReason;
    } cases[] = {
        {"451", SendOutcome::kRetry, "SMTP 451 4.3.0 Try again later"},
        {"550", SendOutcome::kFailed, "SMTP 550 5.7.1 Message refused"},
        {"rcpt550", SendOutcome::kFailed, "SMTP 550 5.1.1 No such mailbox here"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.pszControl);
        m_receiver.SetControl(c.pszControl);
        const CSendResult result = SendOne();
        EXPECT_EQ(c.outcome, result.outcome);
        EXPECT_EQ(c.pszReason, result.strReason);
    }
    EXPECT_TRUE(m_receiver.Received().empty());
}

TEST_F(SenderMail, AfterARetryTheRestOfTheBatchWaits) {
    m_receiver.SetControl("451");
    CMailSender sender(m_target);
    const std::vector<CSendResult> results = sender.Send({Page(1), Page(2)});
    EXPECT_EQ(SendOutcome::kRetry, results[1].outcome);
    EXPECT_EQ(results[0].strReason, results[1].strReason);

    m_receiver.SetControl("");
    for (const CSendResult& result : sender.Send({Page(1), Page(2)}))
        EXPECT_EQ(SendOutcome::kDelivered, result.outcome);
    EXPECT_EQ(2u, m_receiver.Received().size());
}

TEST_F(SenderMail, NoServerOrASilentOneIsRetried) {
    m_receiver.SetControl("hang");
    m_target.nTimeoutSeconds = 1;
    const CSendResult silent = SendOne();
    EXPECT_EQ(SendOutcome::kRetry, silent.outcome);
    EXPECT_EQ("TIMED OUT AFTER 1 S", silent.strReason);

    m_receiver.Stop();
    const CSendResult refused = SendOne();
    EXPECT_EQ(SendOutcome::kRetry, refused.outcome);
    EXPECT_EQ("CONNECTION REFUSED", refused.strReason);
}

TEST_F(SenderMail, StopEndsAMailInFlight) {
    m_receiver.SetControl("hang");
    m_target.nTimeoutSeconds = 60;
    CMailSender sender(m_target);
    std::thread stopper([&] {
        // The receiver has the mail and never answers: the sender waits.
        EXPECT_TRUE(m_receiver.WaitFor(1, kWaitMs));
        sender.RequestStop();
    });
    const CSendResult result = sender.Send({Page(1)}).at(0);
    stopper.join();
    EXPECT_EQ("STOPPED", result.strReason);
}

class SenderMailLogin : public SenderMail {
  protected:
    void SetUp() override {
        m_options.strUser = "ward7";
        m_options.strPassword = "s3cret-pw";
        m_options.bStartTls = true;
        StartReceiver();
        m_target.strUser = "ward7";
        m_target.bStartTls = true;
        m_target.strCaFile = m_receiver.CaFile();
    }
};

TEST_F(SenderMailLogin, LogsInOverStartTls) {
    m_target.strPassword = "s3cret-pw";
    ASSERT_EQ(SendOutcome::kDelivered, SendOne().outcome);
    const std::vector<CMail> mails = m_receiver.Received();
    ASSERT_EQ(1u, mails.size());
    EXPECT_EQ("ward7", mails[0].strLogin);
    EXPECT_TRUE(mails[0].bTls);
}

TEST_F(SenderMailLogin, ARefusedLoginIsRetriedWithoutThePassword) {
    m_target.strPassword = "wrong-pw";
    const CSendResult result = SendOne();
    EXPECT_EQ(SendOutcome::kRetry, result.outcome);
    EXPECT_EQ(0u, result.strReason.find("SMTP 535")) << result.strReason;
    for (const std::string& strText : {result.strReason, result.strDetail}) {
        EXPECT_EQ(std::string::npos, strText.find("wrong-pw"));
        EXPECT_EQ(std::string::npos, strText.find(Base64("wrong-pw")));
    }
    EXPECT_TRUE(m_receiver.Received().empty());
}

class SenderSmtps : public SenderMail {
  protected:
    void SetUp() override {
        m_options.bImplicitTls = true;
        StartReceiver();
        m_target.scheme = TargetScheme::kSmtps;
    }
};

TEST_F(SenderSmtps, TheServersCaIsTrustedAndAnotherIsNot) {
    m_target.strCaFile = m_receiver.CaFile();
    ASSERT_EQ(SendOutcome::kDelivered, SendOne().outcome);
    ASSERT_EQ(1u, m_receiver.Received().size());
    EXPECT_TRUE(m_receiver.Received()[0].bTls);

    m_target.strCaFile = m_receiver.OtherCaFile();
    const CSendResult result = SendOne();
    EXPECT_EQ(SendOutcome::kRetry, result.outcome);
    EXPECT_EQ("TLS CERTIFICATE NOT TRUSTED", result.strReason);
}
