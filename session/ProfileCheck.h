// volnex --check: reads a profile as a start would, opens nothing (no
// device, no outbox, no network), and says each problem it finds in one
// line: the file itself, settings that cannot be used, targets that would
// be off, folders that cannot be written, and a profile holding secrets
// that others may read. For ExecStartPre= and for CI.
#pragma once

#include <string>
#include <vector>

// bNamed: the profile was named (--profile), so a missing one is a problem.
std::vector<std::string> CheckProfile(const std::string& strPath, bool bNamed);
