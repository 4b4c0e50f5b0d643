#include "session/TraceRender.h"

#include "engine/ControlNames.h"

#include <cctype>

namespace {

// The received bytes an open line shows: a control character's name counts
// as the one byte it stands for.
size_t ReceivedBytes(const std::string& strLine) {
    const size_t nMark = strLine.find(kReceivedMark);
    size_t nBytes = 0;
    for (size_t i = nMark + std::char_traits<char>::length(kReceivedMark);
         i < strLine.size(); ++nBytes) {
        size_t nLength = 1;
        if (strLine[i] == '<') {
            for (unsigned char c = 0; c < 0x20; ++c) {
                const std::string strName = ControlName(c);
                if (strLine.compare(i, strName.size(), strName) == 0) {
                    nLength = strName.size();
                    break;
                }
            }
        }
        i += nLength;
    }
    return nBytes;
}

// Adds a line at the end; the oldest line goes when the list is full.
void AddLine(ITraceList& list, const std::string& strLine) {
    list.Add(strLine);
    while (list.Count() > kTraceListLimit)
        list.DropOldest();
}

} // namespace

void RenderTrace(ITraceList& list, bool bSent, const std::string& strText) {
    if (bSent) {
        std::string strLine = kSentMark;
        // A message sequence (three digits, a text, CR) before the control
        // answer shows on a line of its own, as received lines do.
        std::string strRest = strText.substr(0, strText.find('\0')); // ends at its NUL
        while (strRest.size() > 4 &&
               std::isdigit(static_cast<unsigned char>(strRest[0])) &&
               std::isdigit(static_cast<unsigned char>(strRest[1])) &&
               std::isdigit(static_cast<unsigned char>(strRest[2])) &&
               strRest.find('\r') != std::string::npos &&
               strRest.find('\r') + 1 < strRest.size()) {
            const size_t nEnd = strRest.find('\r');
            AddLine(list, kSentMark + strRest.substr(0, nEnd) + "<CR>");
            list.NoteBytes(strRest.substr(0, nEnd + 1));
            strRest.erase(0, nEnd + 1);
        }
        for (char ch : strRest) {
            const char* szName = ControlName(static_cast<unsigned char>(ch));
            strLine += szName ? szName : std::string(1, ch);
        }
        AddLine(list, strLine);
        list.NoteBytes(strRest);
        return;
    }

    const unsigned char b =
        strText.empty() ? 0 : static_cast<unsigned char>(strText[0]);
    const char* szName = ControlName(b);
    const std::string strPiece =
        szName ? szName : strText.substr(0, strText.find('\0'));
    if (const unsigned n = list.Count(); n > 0) {
        const std::string strLast = list.Line(n - 1);
        const bool bOpen = strLast.find(kReceivedMark) != std::string::npos &&
                           strLast.find("<CR>") == std::string::npos;
        if (bOpen) {
            if (ReceivedBytes(strLast) + 1 > kTraceLineLimit) {
                // The character is not shown; the next one starts a new line.
                AddLine(list, kBufferExceeded);
                AddLine(list, kMismatchedSettings);
                return;
            }
            list.ReplaceLast(strLast + strPiece);
            list.NoteBytes(strText.substr(0, 1));
            return;
        }
    }
    AddLine(list, kReceivedMark + strPiece);
    list.NoteBytes(strText.substr(0, 1));
}

void RenderNote(ITraceList& list, const std::string& strNote) {
    AddLine(list, strNote);
}

void HandleProtocolTrace(ITraceList* pList, WPARAM wParam, LPARAM lParam) {
    std::unique_ptr<std::string> text = AdoptTraceText(lParam);
    if (pList != nullptr && text)
        RenderTrace(*pList, wParam != 0, *text);
}
