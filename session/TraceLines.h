// CTraceLines: the protocol trace as whole lines with their times, for the
// records kept outside the protocol window (the session log, the headless
// trace).
//
// The lines are the protocol window's ("<=  <ACK><CR>", "=>  ID=<CR>", the
// warnings and notes), each prefixed by the local time its first character
// came, "HH:MM:SS.mmm ". A line goes to the sink once it is whole: a sent
// text and a note at once, a received line at its CR or when something
// else starts a new line. Line events come as lines of their own in the
// style of the notes, when they happen, without cutting a received line in
// progress (which is handed on when whole, with its earlier time). Used on
// the user-interface thread only.
#pragma once

#include "session/TraceRender.h"

#include <cstdint>
#include <functional>
#include <string>

// "14:05:00.250" in local time.
std::string TraceTimeText(std::int64_t nTimeMs);

class CTraceLines : private ITraceList {
  public:
    using Sink = std::function<void(const std::string& strLine)>;

    explicit CTraceLines(Sink sink) : m_sink(std::move(sink)) {}

    void Trace(bool bSent, const std::string& strText);
    void Note(const std::string& strNote);
    // "   LINE: DSR OFF", at once
    void Event(const std::string& strEvent);
    // Hands on a received line still open.
    void Flush();

  private:
    unsigned Count() const override { return m_bHaveLine ? 1 : 0; }
    std::string Line(unsigned) const override { return m_strLine; }
    void DropOldest() override {}
    void Add(const std::string& strLine) override;
    void ReplaceLast(const std::string& strLine) override { m_strLine = strLine; }
    void EmitIfWhole();

    Sink m_sink;
    bool m_bHaveLine = false;
    bool m_bEmitted = true;
    std::string m_strLine;
    std::int64_t m_nStartMs = 0;
};
