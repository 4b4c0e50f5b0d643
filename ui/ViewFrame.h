// IViewFrame: the frame around the main view, as the view asks it to follow
// the form (its first size, a line that comes or goes below the form).
#pragma once

#include <wx/gdicmn.h>

class IViewFrame {
  public:
    virtual ~IViewFrame() = default;
    // Fits the frame to the form and returns the client size it took.
    virtual wxSize FitToForm(const wxSize& form) = 0;
    // The size the user gave this profile's window before, if any.
    virtual void RestoreSize() = 0;
    // Grows (or with a negative change shrinks) the client area; returns
    // what it changed by, which the screen's edge may make less.
    virtual int GrowClientBy(int nChange) = 0;
    // The frame's width at its first size.
    virtual int GetFitWidth() const = 0;
    virtual bool IsFrameMaximized() const = 0;
    virtual void ShowDeliveriesCommand(bool bShow) = 0;
};
