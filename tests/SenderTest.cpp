// MakeSender and the texts every sender makes for its results.
#include "delivery/SenderFactory.h"
#include "delivery/SenderText.h"
#include "delivery/TargetConfig.h"

#include <gtest/gtest.h>

TEST(SenderFactory, EachSchemeGetsItsSender) {
    const struct {
        TargetScheme scheme;
        const char* pszKind;
    } cases[] = {
        {TargetScheme::kMqtt, "MQTT"}, {TargetScheme::kMqtts, "MQTT"},
        {TargetScheme::kHttp, "HTTP"}, {TargetScheme::kHttps, "HTTP"},
        {TargetScheme::kSmtp, "SMTP"}, {TargetScheme::kSmtps, "SMTP"},
        {TargetScheme::kExec, "EXEC"},
    };
    for (const auto& c : cases) {
        CTargetConfig target;
        target.scheme = c.scheme;
        const std::unique_ptr<ISender> pSender = MakeSender(target);
        ASSERT_NE(nullptr, pSender);
        EXPECT_STREQ(c.pszKind, pSender->Kind());
    }
}

TEST(SenderFactory, AStoppedSenderSendsNothing) {
    CTargetConfig target;
    target.scheme = TargetScheme::kExec;
    target.strProgram = "/bin/false"; // would fail for good if it ran
    const std::unique_ptr<ISender> pSender = MakeSender(target);
    pSender->RequestStop();
    const std::vector<CSendResult> results = pSender->Send({COutgoing(), COutgoing()});
    ASSERT_EQ(2u, results.size());
    for (const CSendResult& result : results) {
        EXPECT_EQ(SendOutcome::kRetry, result.outcome);
        EXPECT_EQ("STOPPED", result.strReason);
    }
}

TEST(SenderText, ExcerptsCutWholeCharactersAndShowNoControls) {
    EXPECT_EQ("ab", Excerpt("abü", 3)); // "ü" is two bytes: not half of it
    EXPECT_EQ("abü", Excerpt("abü", 4));
    EXPECT_EQ("a?b\r\n\tc", Excerpt(std::string("a\x1b") + "b\r\n\tc", 100));
    EXPECT_EQ("", Excerpt("€", 2));
}

TEST(SenderText, SecretsAreHiddenWholeWhereverTheyStand) {
    EXPECT_EQ("Authorization: Bearer *** and ***",
              HideSecrets("Authorization: Bearer tok and tok", {"tok", ""}));
    // A secret within a longer one: the longer goes whole.
    EXPECT_EQ("key=***", HideSecrets("key=Bearer abc", {"abc", "Bearer abc"}));
    // A replacement never makes a new match.
    EXPECT_EQ("***", HideSecrets("**", {"**"}));
}
