// CMailSender: each page mailed to a target's recipients through an SMTP
// server (smtp://, upgraded with STARTTLS when asked, or smtps://), on a
// connection of its own.
//
// The mail is plain UTF-8 text: the message, a blank line, then the page's
// Pager, Time, Port and Id lines; its Message-ID comes from the page id, so
// a page mailed twice is known as one. The server's 4xx and every transport
// problem are tried again, its 5xx fails for good ("SMTP 550 ..."), except a
// refused login, which is the account's problem, not the page's, and so is
// tried again. libcurl waits for the answer to the end of a mail without
// returning, so a stop request ends that wait within about a second.
//
// Called from its target's worker thread only (RequestStop from any).
#pragma once

#include "delivery/CurlSession.h"
#include "delivery/Sender.h"
#include "delivery/TargetConfig.h"

#include <ctime>

class CMailSender : public ISender {
  public:
    explicit CMailSender(const CTargetConfig& target);

    // Pages go one after the other; after one that must be tried again the
    // rest are not sent and get its result.
    std::vector<CSendResult> Send(const std::vector<COutgoing>& pages) override;
    const char* Kind() const override { return "SMTP"; }

    // The whole mail for a page, headers and body, lines ending in CRLF;
    // now is its Date.
    std::string Compose(const COutgoing& page, std::time_t now) const;

  private:
    CSendResult SendOne(const COutgoing& page);

    const CTargetConfig m_target;
    std::string m_strServerUrl; // smtp://host:port, no credentials in it
    std::vector<std::string> m_secrets;
    CCurlSession m_session;
};
