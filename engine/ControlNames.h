// Display names of the control characters 00 to 1F hex, "<NUL>" to "<US>",
// used by the protocol monitor and the page list.
#pragma once

#include <string>

// The name of a byte below 20 hex; null for any other byte.
const char* ControlName(unsigned char ch);

// The bytes with each control character spelled out by its name.
std::string WithControlNames(const std::string& strBytes);
