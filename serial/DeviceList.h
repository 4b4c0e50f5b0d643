// The serial devices present on this machine, for the device list of the
// Port Settings page: stable USB names first, then USB and ACM adapters,
// then the on-board UARTs.
#pragma once

#include <string>
#include <vector>

std::vector<std::string> ListSerialDevices();
