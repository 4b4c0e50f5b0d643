// The nine session states of the paging terminal and their display texts.
#pragma once

enum SessionState {
    ST_DISCONNECTED = 0,
    ST_WAITING_FOR_CR = 1,
    ST_SENDING_LOGON_PROMPT = 2,
    ST_WAIT_FOR_LOGON_REQUEST = 3, // never entered
    ST_SENT_LOGON_ACK = 4,         // never entered
    ST_WAITING_FOR_PAGE = 5,
    ST_RECEIVING_PAGE = 6,
    ST_SENDING_PAGE_ACK = 7, // never entered
    ST_LOGGED_OFF = 8,
};

constexpr int kSessionStateCount = 9;

// The display text of a state; an empty text for a value outside 0 to 8.
inline const char* GetStateText(int nState) {
    static const char* const kTexts[kSessionStateCount] = {
        "VELDRIN DISCONNECTED",   "WAITING FOR CR",   "SENDING LOGON PROMPT",
        "WAIT FOR LOGON REQUEST", "SENT LOGON ACK",   "WAITING FOR PAGE ",
        "RECEIVING PAGE",         "SENDING PAGE ACK", "LOGGED OFF",
    };
    return nState >= 0 && nState < kSessionStateCount ? kTexts[nState] : "";
}
