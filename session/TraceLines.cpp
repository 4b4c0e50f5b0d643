#include "session/TraceLines.h"

#include "session/Clock.h"

#include <ctime>

std::string TraceTimeText(std::int64_t nTimeMs) {
    char szText[32];
    std::snprintf(
        szText, sizeof szText, "%s.%03d",
        FormatTimeC("%H:%M:%S", static_cast<std::time_t>(nTimeMs / 1000)).c_str(),
        static_cast<int>(nTimeMs % 1000));
    return szText;
}

void CTraceLines::Trace(bool bSent, const std::string& strText) {
    RenderTrace(*this, bSent, strText);
    EmitIfWhole();
}

void CTraceLines::Note(const std::string& strNote) {
    RenderNote(*this, strNote);
    EmitIfWhole();
}

void CTraceLines::Event(const std::string& strEvent) {
    // Beside the protocol lines: a received line in progress stays whole.
    m_sink(TraceTimeText(GetClock().NowMs()) + "    LINE: " + strEvent);
}

void CTraceLines::Flush() {
    if (m_bHaveLine && !m_bEmitted) {
        m_bEmitted = true;
        m_sink(TraceTimeText(m_nStartMs) + " " + m_strLine);
    }
}

void CTraceLines::Add(const std::string& strLine) {
    Flush(); // the line before is whole now
    m_bHaveLine = true;
    m_bEmitted = false;
    m_strLine = strLine;
    m_nStartMs = GetClock().NowMs();
}

void CTraceLines::EmitIfWhole() {
    const bool bOpen = m_strLine.find(kReceivedMark) != std::string::npos &&
                       m_strLine.find("<CR>") == std::string::npos;
    if (!bOpen)
        Flush();
}
