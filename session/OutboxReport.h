// volnex --outbox: what waits in the outbox of a profile, per delivery
// target, printed as text or JSON for a person or a monitoring script.
#pragma once

#include <iosfwd>
#include <string>

class IProfile;

// Prints each target's pending, delivered, failed and expired pages and
// its oldest pending page, for the targets the profile names and any the
// outbox still holds deliveries for. Returns the exit status: 0, or 1 when
// the outbox exists but cannot be read.
int PrintOutboxReport(IProfile& profile, bool bJson, std::ostream& out,
                      std::ostream& err);
