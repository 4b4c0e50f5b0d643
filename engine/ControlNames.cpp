#include "engine/ControlNames.h"

const char* ControlName(unsigned char ch) {
    // 10 and 11 hex keep the names this terminal has always shown.
    static const char* const kNames[32] = {
        "<NUL>", "<SOH>", "<STX>", "<ETX>", "<EOT>", "<ENQ>", "<ACK>", "<BEL>",
        "<BS>",  "<HT>",  "<LF>",  "<VT>",  "<FF>",  "<CR>",  "<SO>",  "<SI>",
        "<SLE>", "<CS1>", "<DC2>", "<DC3>", "<DC4>", "<NAK>", "<SYN>", "<ETB>",
        "<CAN>", "<EM>",  "<SUB>", "<ESC>", "<FS>",  "<GS>",  "<RS>",  "<US>",
    };
    return ch < 32 ? kNames[ch] : nullptr;
}

std::string WithControlNames(const std::string& strBytes) {
    std::string strText;
    for (char ch : strBytes) {
        const char* szName = ControlName(static_cast<unsigned char>(ch));
        strText += szName ? szName : std::string(1, ch);
    }
    return strText;
}
