// The application icon (a pager), drawn in res/volnex.xpm.
#pragma once

#include <wx/bitmap.h>
#include <wx/icon.h>

wxIcon AppIcon();
