// The program's entry point. A minimal shell for now: one frame with the
// program's caption.
#include <wx/app.h>
#include <wx/frame.h>
#include <wx/panel.h>

class CVolnexApp : public wxApp {
public:
    bool OnInit() override {
        auto* pFrame = new wxFrame(nullptr, wxID_ANY,
                                   "Volnex - Marivane Didoza Zuri Zovivazir");
        new wxPanel(pFrame);
        pFrame->Show();
        return true;
    }
};

wxIMPLEMENT_APP(CVolnexApp);
