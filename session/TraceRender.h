// Rendering the protocol trace into list lines.
//
// Each text the terminal sends becomes one line, "<=  " and the text;
// received characters gather on one open line, "=>  " and the characters,
// up to and including a CR. Control characters show by name ("<CR>"). A
// received line holds up to a whole block (kBlockLimit bytes); a byte past
// that gets two warning lines instead (the sign of mismatched port
// settings: a line that never sends CR). The list keeps the newest
// 500 lines: each line added beyond them drops the oldest. Whether the list
// follows its newest line is the list's own matter (the reader's scrolling).
//
// The list is told the bytes behind each line as well (NoteBytes), so that
// it can show them in hex; the lines themselves never carry them.
//
// The rendering works on a small list model so that it runs without a
// display; the protocol window's list implements the model.
#pragma once

#include "engine/Protocol.h"
#include "session/Notify.h"

#include <string>

class ITraceList {
  public:
    virtual ~ITraceList() = default;
    virtual unsigned Count() const = 0;
    virtual std::string Line(unsigned nIndex) const = 0;
    // Removes the first line.
    virtual void DropOldest() = 0;
    virtual void Add(const std::string& strLine) = 0;
    // Replaces the last line (the same as deleting it and adding the new).
    virtual void ReplaceLast(const std::string& strLine) = 0;
    // The bytes the last Add or ReplaceLast put on the last line, as they
    // went over the line (for a list that can show them in hex).
    virtual void NoteBytes(const std::string& /*strBytes*/) {}
};

constexpr unsigned kTraceListLimit = 500;
constexpr size_t kTraceLineLimit = kBlockLimit; // received bytes on one line
constexpr const char* kSentMark = "<=  ";
constexpr const char* kReceivedMark = "=>  ";
constexpr const char* kBufferExceeded = "   BUFFER SIZE EXCEEDED!";
constexpr const char* kMismatchedSettings =
    "   YOU MAY HAVE MISMATCHED SERIAL PORT SETTINGS!";

void RenderTrace(ITraceList& list, bool bSent, const std::string& strText);

// A note about the line (a network peer that came, went or was refused),
// in the style of the warnings: a line of its own, after which a received
// character starts a new line.
void RenderNote(ITraceList& list, const std::string& strNote);

// The view's handling of UM_PROTOCOL_TRACE: takes the text over, renders it
// when there is a list (the protocol window is open) and frees it always.
void HandleProtocolTrace(ITraceList* pList, WPARAM wParam, LPARAM lParam);
