// How the windows' forms take the room they are given beyond their own
// size, and where that room ends: plain layout rules shared by the main
// view and the protocol window.
#pragma once

#include <wx/gdicmn.h>

class wxWindow;

// The room a form of size form gets in a window of size client that was
// first base (at least form) large: none up to base; beyond it the form
// takes twice what the window gained, so that the room the first size left
// beside the form (for a long status text, say) is soon used too, until the
// form fills the window.
wxSize GrowthFor(const wxSize& client, const wxSize& base, const wxSize& form);

// The usable area of the screen pWindow is on (the first screen when it is
// on none).
wxRect ScreenAreaOf(const wxWindow* pWindow);
