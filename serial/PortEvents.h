// IPortEvents: what the port tells its owner, and the bits and masks of the
// line it speaks in.
//
// The port's monitor thread reads the device and tells the owner each
// received byte, each change of a modem line and each note about the line,
// in the order they happened, as synchronous calls on the owner's thread
// (CCommPort says how). A level read afresh on the owner's call is told
// the same way, before that call returns.
#pragma once

#include <string>

// Modem-status bits, as a device reports its lines.
constexpr unsigned MS_CTS_ON = 0x10;
constexpr unsigned MS_DSR_ON = 0x20;
constexpr unsigned MS_RING_ON = 0x40;
constexpr unsigned MS_RLSD_ON = 0x80;

// Line events a port can be asked to watch (its event mask).
constexpr unsigned EV_RXCHAR = 0x0001;
constexpr unsigned EV_RXFLAG = 0x0002;
constexpr unsigned EV_CTS = 0x0008;
constexpr unsigned EV_DSR = 0x0010;
constexpr unsigned EV_RLSD = 0x0020;
constexpr unsigned EV_BREAK = 0x0040;
constexpr unsigned EV_ERR = 0x0080;
constexpr unsigned EV_RING = 0x0100;

// The modem lines the owner hears of.
enum class LineLevel { kCts, kDsr, kDcd };
// What else the line can signal, with no more to it than that it came.
enum class LineEvent { kBreak, kError, kRing, kEventChar };

class IPortEvents {
  public:
    virtual ~IPortEvents() = default;
    virtual void OnByte(unsigned char ch) = 0;
    // A modem line's level: it changed, the line hung up (every level off),
    // or it was read afresh.
    virtual void OnLevel(LineLevel line, bool bOn) = 0;
    // A note about the line for the protocol window (a network peer came or
    // was refused, an answer the line did not take).
    virtual void OnLineNote(const std::string& strNote) = 0;
    virtual void OnLineEvent(LineEvent event) { (void)event; }
};
