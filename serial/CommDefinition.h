// The port's definition string: "baud=%d parity=%c data=%d stop=%d".
//
// The port forms this text from its set-up arguments and applies it to the
// line settings, so that a format the line cannot take is reported as a
// "BuildCommDCB()" failure, the name operators know this step by.
#pragma once

#include "serial/SerialDevice.h"

#include <string>

// Forms the definition string. A NUL parity letter ends the text early, just
// as it ends a C string, which makes the definition unusable.
std::string FormatCommDefinition(int nBaud, char chParity, int nDataBits,
                                 int nStopBits);

// Parses a definition string. False for a speed the line cannot take, a
// parity letter other than N, E, O, M or S, data bits outside 5 to 8, stop
// bits other than 1 and 2, or text that is not a definition.
bool ParseCommDefinition(const std::string& strDefinition, CLineFormat* pFormat);
