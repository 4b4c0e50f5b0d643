// Command IDs of the menu and accelerator, and the main form's control IDs.
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

// The controls of the main view's form (CVolnexVw::IDC_STATE and so on).
struct CViewControls {
    enum {
        IDC_CTS = 1006,
        IDC_DSR = 1007,
        IDC_DCD = 1008,
        IDC_PAGE_LIST = 1010,
        IDC_STATE = 1012,
        IDC_GOOD_PAGES = 1016,
        IDC_BAD_PAGES = 1017,
        IDC_LOGON = 1019,
        IDC_LOGFILE = 1020,
        IDC_LOGOFF = 1021,
    };
};
