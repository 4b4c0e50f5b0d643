// CHttpSender: each page POSTed to a target's http:// or https:// URL, one
// request per page, over a connection kept open between pages.
//
// Body=json sends the page's record as application/json, Body=text the
// message alone as text/plain with a "Title: Page for <pager>" header.
// Every request carries "Idempotency-Key: <page id>", so a receiver can
// drop a page it already has when an answer was lost and the page comes
// again. A 2xx answer is delivered; 408, 425, 429, 5xx and every transport
// problem are tried again (with the answer's Retry-After); any other answer,
// a redirect included, fails for good. Redirects are never followed, so an
// Authorization value never goes to a host it was not meant for.
//
// Called from its target's worker thread only (RequestStop from any).
#pragma once

#include "delivery/CurlSession.h"
#include "delivery/Sender.h"
#include "delivery/TargetConfig.h"

class CHttpSender : public ISender {
  public:
    explicit CHttpSender(const CTargetConfig& target);

    // Pages go one after the other; after one that must be tried again the
    // rest are not sent and get its result (the receiver is down or busy).
    std::vector<CSendResult> Send(const std::vector<COutgoing>& pages) override;
    const char* Kind() const override { return "HTTP"; }

  private:
    CSendResult SendOne(const COutgoing& page);
    CSendResult FromStatus(long nStatus, const std::string& strPhrase,
                           const std::string& strBody,
                           std::int64_t nRetryAfterMs) const;

    const CTargetConfig m_target;
    // The forms the URL's password and the Authorization value can take in
    // what a server or libcurl says back.
    std::vector<std::string> m_secrets;
    CCurlSession m_session;
};
