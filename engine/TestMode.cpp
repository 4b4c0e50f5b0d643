#include "engine/TestMode.h"

#include <cctype>
#include <sstream>

namespace {

constexpr int kMaxCount = 100000;
constexpr int kMaxDelayMs = 600000;

bool ParseNumber(const std::string& strText, int nMax, int* pnValue) {
    if (strText.empty() || strText.size() > 7)
        return false;
    int nValue = 0;
    for (char ch : strText) {
        if (!std::isdigit(static_cast<unsigned char>(ch)))
            return false;
        nValue = nValue * 10 + (ch - '0');
    }
    if (nValue < 1 || nValue > nMax)
        return false;
    *pnValue = nValue;
    return true;
}

std::string Trim(const std::string& strText) {
    size_t nBegin = strText.find_first_not_of(" \t");
    size_t nEnd = strText.find_last_not_of(" \t");
    return nBegin == std::string::npos ? "" : strText.substr(nBegin, nEnd - nBegin + 1);
}

std::string Mode(const char* szName, int nValue) {
    return std::string(szName) + ":" + std::to_string(nValue);
}

} // namespace

bool CTestModeSettings::IsOn() const {
    return nNakEvery || nSilentEvery || nDelayMs || bNoLogon || nHangUpAfter ||
           nGarbleEvery || !strAcceptPagers.empty() || nMaxLength || nTruncate ||
           nMaxPages || nDeferEvery || nBusyEvery;
}

std::string CTestModeSettings::Text() const {
    std::string strText;
    auto add = [&](const std::string& strMode) {
        strText += (strText.empty() ? "" : ",") + strMode;
    };
    if (nNakEvery)
        add(Mode("nak-every", nNakEvery));
    if (nSilentEvery)
        add(Mode("silent-every", nSilentEvery));
    if (nDelayMs)
        add(Mode("delay", nDelayMs));
    if (bNoLogon)
        add("no-logon");
    if (nHangUpAfter)
        add(Mode("hangup-after", nHangUpAfter));
    if (nGarbleEvery)
        add(Mode("garble-every", nGarbleEvery));
    if (!strAcceptPagers.empty())
        add("accept-pagers:" + strAcceptPagers);
    if (nMaxLength)
        add(Mode("max-length", nMaxLength));
    if (nTruncate)
        add(Mode("truncate", nTruncate));
    if (nMaxPages)
        add(Mode("max-pages", nMaxPages));
    if (nDeferEvery)
        add(Mode("defer-every", nDeferEvery));
    if (nBusyEvery)
        add(Mode("busy-every", nBusyEvery));
    return strText;
}

bool ParseTestMode(const std::string& strValue, CTestModeSettings* pSettings,
                   std::string* pstrError) {
    CTestModeSettings settings;
    std::stringstream in(strValue);
    std::string strItem;
    while (std::getline(in, strItem, ',')) {
        strItem = Trim(strItem);
        if (strItem.empty())
            continue;
        const size_t nColon = strItem.find(':');
        const std::string strName = strItem.substr(0, nColon);
        const std::string strNumber =
            nColon == std::string::npos ? "" : strItem.substr(nColon + 1);
        struct {
            const char* szName;
            int* pnValue;
            int nMax;
            const char* szWhat;
        } counted[] = {
            {"nak-every", &settings.nNakEvery, kMaxCount, "a count"},
            {"silent-every", &settings.nSilentEvery, kMaxCount, "a count"},
            {"delay", &settings.nDelayMs, kMaxDelayMs, "milliseconds"},
            {"hangup-after", &settings.nHangUpAfter, kMaxCount, "a count"},
            {"garble-every", &settings.nGarbleEvery, kMaxCount, "a count"},
            {"max-length", &settings.nMaxLength, kMaxCount, "a length"},
            {"truncate", &settings.nTruncate, kMaxCount, "a length"},
            {"max-pages", &settings.nMaxPages, kMaxCount, "a count"},
            {"defer-every", &settings.nDeferEvery, kMaxCount, "a count"},
            {"busy-every", &settings.nBusyEvery, kMaxCount, "a count"},
        };
        bool bKnown = false;
        for (const auto& mode : counted) {
            if (strName != mode.szName)
                continue;
            bKnown = true;
            if (!ParseNumber(strNumber, mode.nMax, mode.pnValue)) {
                *pstrError = strName + " needs " + mode.szWhat + " from 1 to " +
                             std::to_string(mode.nMax) + ", as in " + strName + ":3";
                return false;
            }
        }
        if (strName == "accept-pagers") {
            bKnown = true;
            // Pager IDs are digits and letters; '|' between them.
            const bool bGood =
                !strNumber.empty() && strNumber.front() != '|' &&
                strNumber.back() != '|' && strNumber.find("||") == std::string::npos &&
                strNumber.find_first_not_of("0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdef"
                                            "ghijklmnopqrstuvwxyz|") ==
                    std::string::npos;
            if (!bGood) {
                *pstrError = "accept-pagers needs pager IDs joined by |, as in "
                             "accept-pagers:1234|5678";
                return false;
            }
            settings.strAcceptPagers = strNumber;
        }
        if (strName == "no-logon" && nColon == std::string::npos) {
            settings.bNoLogon = true;
            bKnown = true;
        }
        if (!bKnown) {
            *pstrError = "unknown mode '" + strItem + "'";
            return false;
        }
    }
    *pSettings = settings;
    return true;
}

void CTestMode::Restart() {
    m_nGoodBlocks = 0;
    m_nAnswers = 0;
    m_nAccepted = 0;
    m_nGoodPages = 0;
}

bool CTestMode::Refuses(const CPageFacts& facts, CAnswerChange* pChange) const {
    using Kind = CAnswerChange::Kind;
    using Refusal = CAnswerChange::Refusal;
    const CTestModeSettings& s = m_settings;
    if (s.nMaxPages && facts.nSessionPages >= s.nMaxPages) {
        pChange->kind = Kind::kEndSession;
        pChange->notes.push_back("   TEST MODE: SESSION ENDED AFTER " +
                                 std::to_string(facts.nSessionPages) + " PAGES (" +
                                 Mode("max-pages", s.nMaxPages) + ")");
        return true;
    }
    if (!s.strAcceptPagers.empty() &&
        ("|" + s.strAcceptPagers + "|").find("|" + facts.strPager + "|") ==
            std::string::npos) {
        pChange->kind = Kind::kRefuse;
        pChange->refusal = Refusal::kPagerId;
        pChange->notes.push_back(
            "   TEST MODE: PAGE REFUSED, PAGER ID " + facts.strPager +
            " NOT ACCEPTED (accept-pagers:" + s.strAcceptPagers + ")");
        return true;
    }
    if (s.nMaxLength && facts.nMessageChars > static_cast<size_t>(s.nMaxLength)) {
        pChange->kind = Kind::kRefuse;
        pChange->refusal = Refusal::kTooLong;
        pChange->notes.push_back("   TEST MODE: PAGE REFUSED, MESSAGE LONGER THAN " +
                                 std::to_string(s.nMaxLength) + " CHARACTERS (" +
                                 Mode("max-length", s.nMaxLength) + ")");
        return true;
    }
    return false;
}

CAnswerChange CTestMode::OnAnswer(AnswerKind kind, const CPageFacts& facts) {
    using Kind = CAnswerChange::Kind;
    CAnswerChange change;
    const CTestModeSettings& s = m_settings;
    if (kind == AnswerKind::kLogon) {
        if (s.bNoLogon) {
            change.kind = Kind::kSilent;
            change.notes.push_back("   TEST MODE: LOGON NOT ANSWERED (no-logon)");
        }
        return change;
    }
    if (kind == AnswerKind::kPageAccepted && Refuses(facts, &change))
        return change;
    if (kind == AnswerKind::kPageAccepted && facts.bLastBlock &&
        (s.nBusyEvery || s.nDeferEvery)) {
        ++m_nGoodPages;
        if (s.nBusyEvery && m_nGoodPages % s.nBusyEvery == 0) {
            change.kind = Kind::kRefuse;
            change.refusal = CAnswerChange::Refusal::kBusy;
            change.notes.push_back("   TEST MODE: PAGE REFUSED AS UNDELIVERABLE NOW (" +
                                   Mode("busy-every", s.nBusyEvery) + ")");
            return change;
        }
    }
    if (kind == AnswerKind::kPageAccepted) {
        ++m_nGoodBlocks;
        if (s.nNakEvery && m_nGoodBlocks % s.nNakEvery == 0) {
            change.kind = Kind::kNak;
            change.notes.push_back("   TEST MODE: NAK SENT FOR A GOOD BLOCK (" +
                                   Mode("nak-every", s.nNakEvery) + ")");
        } else if (s.nSilentEvery && m_nGoodBlocks % s.nSilentEvery == 0) {
            change.kind = Kind::kSilent;
            change.notes.push_back("   TEST MODE: NO ANSWER TO A GOOD BLOCK (" +
                                   Mode("silent-every", s.nSilentEvery) + ")");
            return change;
        }
    }
    // An answer goes on the line: ACK, or NAK for a bad or a NAKed block.
    ++m_nAnswers;
    if (s.nDelayMs) {
        // The first tick may come at once: one more, and it is never early.
        change.nDelayTicks = (s.nDelayMs + kTickMs - 1) / kTickMs + 1;
        change.notes.push_back("   TEST MODE: ANSWER HELD FOR " +
                               std::to_string(s.nDelayMs) + " MS (" +
                               Mode("delay", s.nDelayMs) + ")");
    }
    if (s.nGarbleEvery && m_nAnswers % s.nGarbleEvery == 0) {
        change.bStrayByte = true;
        change.notes.push_back("   TEST MODE: STRAY BYTE BEFORE THE ANSWER (" +
                               Mode("garble-every", s.nGarbleEvery) + ")");
    }
    // A page taken as it is may still be answered as deferred or cut; the
    // other modes (delay, stray byte, hang-up) go with that answer.
    if (kind == AnswerKind::kPageAccepted && change.kind == Kind::kAsIs &&
        facts.bLastBlock) {
        if (s.nDeferEvery && m_nGoodPages % s.nDeferEvery == 0) {
            change.kind = Kind::kDefer;
            change.notes.push_back(
                "   TEST MODE: PAGE ANSWERED AS HELD FOR LATER DELIVERY (" +
                Mode("defer-every", s.nDeferEvery) + ")");
        } else if (s.nTruncate &&
                   facts.nMessageChars > static_cast<size_t>(s.nTruncate)) {
            change.kind = Kind::kTruncate;
            change.nCutTo = static_cast<size_t>(s.nTruncate);
            change.notes.push_back("   TEST MODE: MESSAGE CUT TO " +
                                   std::to_string(s.nTruncate) + " CHARACTERS (" +
                                   Mode("truncate", s.nTruncate) + ")");
        }
    }
    if (kind == AnswerKind::kPageAccepted && facts.bLastBlock &&
        (change.kind == Kind::kAsIs || change.kind == Kind::kDefer ||
         change.kind == Kind::kTruncate) &&
        s.nHangUpAfter && ++m_nAccepted >= s.nHangUpAfter) {
        change.bHangUpAfter = true;
        change.notes.push_back("   TEST MODE: HANGING UP AFTER " +
                               std::to_string(m_nAccepted) + " PAGES (" +
                               Mode("hangup-after", s.nHangUpAfter) + ")");
        Restart();
    }
    return change;
}
