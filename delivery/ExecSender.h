// CExecSender: each page handed to a local program (exec:/absolute/path),
// started once per page without a shell as "program <pager>".
//
// The program reads the page's JSON record (one line) on its standard
// input and finds VOLNEX_PAGE_ID, VOLNEX_PAGER and VOLNEX_PORT in its
// environment; its standard output goes nowhere, the first 4 KB of its
// standard error are kept with the attempt. Exit status 0 is delivered, 75
// (EX_TEMPFAIL) asks to try again, any other status or a signal fails for
// good. A program still running after the target's Timeout is killed with
// everything it started (it runs in a process group of its own) and tried
// again. A program that does not read its input, or writes without end to
// its standard error, never blocks the sender; every child is reaped.
//
// Called from its target's worker thread only (RequestStop from any).
#pragma once

#include "delivery/Sender.h"
#include "delivery/TargetConfig.h"

#include <sys/types.h>

class CExecSender : public ISender {
  public:
    explicit CExecSender(const CTargetConfig& target);

    // Pages go one after the other; after one that must be tried again the
    // rest are not run and get its result.
    std::vector<CSendResult> Send(const std::vector<COutgoing>& pages) override;
    const char* Kind() const override { return "EXEC"; }

  private:
    CSendResult RunOne(const COutgoing& page);

    const CTargetConfig m_target;
};
