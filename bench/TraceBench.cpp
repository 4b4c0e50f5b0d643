// How fast the protocol window takes received characters: 100,000 bytes of
// typical traffic (lines of 60 characters ending in CR) rendered into the
// open window, against the 11,520 characters a second of a 115200-baud line.
#include "session/TraceRender.h"
#include "ui/ProtocolDlg.h"

#include <wx/wx.h>

#include <chrono>
#include <cstdio>

class CBenchApp : public wxApp {
  public:
    bool OnInit() override {
        auto* pFrame = new wxFrame(nullptr, wxID_ANY, "bench");
        auto* pPanel = new wxPanel(pFrame);
        SetTopWindow(pFrame);
        pFrame->Show();
        auto* pDlg = new CProtocolDlg(pPanel);
        pDlg->Show();
        Pump();

        constexpr int kChars = 100000;
        const double dLineRate = 115200.0 / 10.0; // 8N1: ten bits a character
        auto start = std::chrono::steady_clock::now();
        for (int i = 0; i < kChars; ++i) {
            char ch = (i % 61 == 60) ? '\r' : static_cast<char>('A' + i % 26);
            HandleProtocolTrace(pDlg, kTraceReceived,
                                ReleaseTraceText(std::make_unique<std::string>(1, ch)));
            if (i % 1000 == 999)
                Pump(); // the window repaints as it would while running
        }
        Pump();
        double dSeconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start)
                .count();
        double dRate = kChars / dSeconds;
        std::printf("protocol window: %d received characters in %.3f s\n", kChars,
                    dSeconds);
        std::printf("protocol window: %.0f characters/s, %.1f x a 115200-baud line "
                    "(%.0f characters/s); list holds %u lines\n",
                    dRate, dRate / dLineRate, dLineRate, pDlg->Count());
        pFrame->Destroy();
        pDlg->Destroy();
        return false; // done: no main loop
    }
    static void Pump() {
        while (wxTheApp->Pending())
            wxTheApp->Dispatch();
        wxTheApp->ProcessPendingEvents();
        wxTheApp->ProcessIdle();
    }
};

wxIMPLEMENT_APP(CBenchApp);
