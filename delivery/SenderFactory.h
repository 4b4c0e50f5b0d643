// MakeSender: the sender each scheme of target is delivered with.
#pragma once

#include "delivery/Sender.h"

#include <memory>

struct CTargetConfig;

// The sender for a target whose settings parsed (ParseTarget).
std::unique_ptr<ISender> MakeSender(const CTargetConfig& target);
