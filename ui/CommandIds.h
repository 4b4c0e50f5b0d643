// Command IDs of the menu and accelerator.
//
// wxWidgets takes IDs below 32767 only, so the menu's traditional IDs (32791
// and up) cannot be used. The standard commands use wxWidgets' stock
// IDs where it has one, except Exit, which gets an ID of its own so that GTK
// adds no Ctrl+Q; the others are numbered above wxID_HIGHEST.
#pragma once

#include <wx/defs.h>

enum {
    ID_VIEW_PROTOCOL_MESSAGES = wxID_HIGHEST + 5, // 32791 traditionally
    ID_CONNECTION = wxID_HIGHEST + 6,             // 32796 traditionally
    ID_APP_ABOUT = wxID_ABOUT,
    ID_HELP_INDEX = wxID_HELP_INDEX,
    ID_APP_EXIT = wxID_HIGHEST + 1,
    ID_HELP_USING = wxID_HIGHEST + 2,
    ID_PREV_PANE = wxID_HIGHEST + 3,
    ID_VIEW_STATUS_BAR = wxID_HIGHEST + 4,
    ID_VIEW_PROTOCOL_HEX = wxID_HIGHEST + 7,
    ID_VIEW_DELIVERIES = wxID_HIGHEST + 8,
    ID_VIEW_PROTOCOL_TIMES = wxID_HIGHEST + 9,
    ID_VIEW_PAGE_DETAILS = wxID_HIGHEST + 10,
};
