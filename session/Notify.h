// Notification numbers the faces speak in: the main frame tells the main
// view that it moved, and a face (or a test in its place) hands the session
// a line's byte, level or note, or a state, by number (CPageSession::Notify).
//
// Every notification is one synchronous call on an INotifyTarget: the sender
// continues only after the receiver's handler has returned. The numbers and
// parameters are fixed, so the view dispatches by number like a message map.
//
// Ownership: the lParam of UM_PROTOCOL_TRACE is a heap text created with
// ReleaseTraceText; the receiver takes it back with AdoptTraceText on every
// path, also when it shows nothing.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "serial/PortEvents.h"

using WPARAM = std::uintptr_t;
using LPARAM = std::intptr_t;

constexpr unsigned WM_USER = 0x400;

constexpr unsigned UM_COMM_BREAK = WM_USER + 1;  // 0, 0
constexpr unsigned UM_COMM_CTS = WM_USER + 2;    // CTS level (0 off), 0
constexpr unsigned UM_COMM_DSR = WM_USER + 3;    // DSR level (0 off), 0
constexpr unsigned UM_COMM_ERROR = WM_USER + 4;  // 0, 0
constexpr unsigned UM_COMM_RING = WM_USER + 5;   // 0, 0
constexpr unsigned UM_COMM_DCD = WM_USER + 6;    // DCD level (0 off), 0
constexpr unsigned UM_COMM_RXCHAR = WM_USER + 7; // byte 0..255, 0
constexpr unsigned UM_COMM_RXFLAG = WM_USER + 8; // 0, 0
// WM_USER + 9 is not used.
constexpr unsigned UM_SESSION_STATE = WM_USER + 10; // 0, SessionState
// WM_USER + 11 is not used: a page is handed on whole (CPageResult).
constexpr unsigned UM_PROTOCOL_TRACE = WM_USER + 12;  // direction, owned text
constexpr unsigned UM_FRAME_MOVED = WM_USER + 13;     // 0, 0
constexpr unsigned UM_FRAME_MINIMIZED = WM_USER + 14; // 0, 0
// A note about the line for the protocol window (a network peer connected
// or refused); lParam points to the text, which stays the sender's and is
// valid during the call only.
constexpr unsigned UM_LINE_NOTE = WM_USER + 15; // 0, const std::string*

// Trace directions (wParam of UM_PROTOCOL_TRACE).
constexpr WPARAM kTraceReceived = 0;
constexpr WPARAM kTraceSent = 1;

// The receiver of notifications. Handlers return 0.
class INotifyTarget {
  public:
    virtual ~INotifyTarget() = default;
    virtual long Notify(unsigned nMsg, WPARAM wParam, LPARAM lParam) = 0;
};

// Hands a trace text over as an lParam; the receiver must adopt it.
inline LPARAM ReleaseTraceText(std::unique_ptr<std::string> text) {
    return reinterpret_cast<LPARAM>(text.release());
}

// Takes ownership of a trace text passed as an lParam (null gives null).
inline std::unique_ptr<std::string> AdoptTraceText(LPARAM lParam) {
    return std::unique_ptr<std::string>(reinterpret_cast<std::string*>(lParam));
}
