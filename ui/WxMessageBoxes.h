// CWxMessageBoxes: the program's message boxes, as wxMessageDialogs (which
// the GUI tests answer through wxWidgets' modal-dialog test hooks).
#pragma once

#include "serial/MessageBoxes.h"

class CWxMessageBoxes : public IMessageBoxes {
  public:
    int Show(const std::string& strText, const std::string& strCaption, unsigned nStyle,
             bool bOwned) override;

    // The instance the windows use.
    static CWxMessageBoxes& Instance();
};

class CIniProfile;

// Tells the operator, in an application box, when the profile cannot keep a
// setting ("Unable to save the settings ..." with the path and the reason),
// once per outage.
void ShowProfileFailures(CIniProfile& profile);
