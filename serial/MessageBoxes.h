// Message boxes as the core code sees them.
//
// The serial port, the session and the report writer show failures to the
// operator through this interface; the program implements it with real modal
// boxes on the user-interface thread, tests with a recorder that answers.
// Callers must be on the user-interface thread (the serial port hops there
// before it calls), unless the implementation says otherwise (the window's
// session boxes wait for that thread themselves).
#pragma once

#include <string>

// Buttons and icons of a message box, as style bits.
constexpr unsigned MB_OK = 0x00;
constexpr unsigned MB_OKCANCEL = 0x01;
constexpr unsigned MB_YESNOCANCEL = 0x03;
constexpr unsigned MB_YESNO = 0x04;
constexpr unsigned MB_ICONSTOP = 0x10;
constexpr unsigned MB_ICONQUESTION = 0x20;
constexpr unsigned MB_ICONEXCLAMATION = 0x30;
constexpr unsigned MB_ICONINFORMATION = 0x40;
constexpr unsigned MB_ICONMASK = 0xF0;
constexpr unsigned MB_TYPEMASK = 0x0F;
// The second button (No of Yes/No) is the default: the key that led to the
// question cannot answer it Yes.
constexpr unsigned MB_DEFBUTTON2 = 0x100;

// Answers.
constexpr int IDOK = 1;
constexpr int IDCANCEL = 2;
constexpr int IDYES = 6;
constexpr int IDNO = 7;

// The caption of every box the program shows through the application.
constexpr const char* kAppTitle = "Marivane Didoza Zuri Zovivazir";
// The caption of the serial port's own error boxes.
constexpr const char* kPortErrorTitle = "Application Error";

class IMessageBoxes {
  public:
    virtual ~IMessageBoxes() = default;
    // Shows a modal box and returns the button pressed. bOwned: the main
    // window owns the box (application boxes); false for the port's boxes.
    virtual int Show(const std::string& strText, const std::string& strCaption,
                     unsigned nStyle, bool bOwned) = 0;
};

// An application box: the program's caption, owned by the main window, and
// the exclamation icon when the style names no icon.
inline int AppMessageBox(IMessageBoxes& boxes, const std::string& strText,
                         unsigned nStyle = MB_OK) {
    if ((nStyle & MB_ICONMASK) == 0)
        nStyle |= MB_ICONEXCLAMATION;
    return boxes.Show(strText, kAppTitle, nStyle, true);
}
