#include "ui/FormLayout.h"

#include <wx/display.h>

#include <algorithm>

wxSize GrowthFor(const wxSize& client, const wxSize& base, const wxSize& form) {
    auto growth = [](int nClient, int nBase, int nForm) {
        return std::max(0, std::min(nClient - nForm, 2 * (nClient - nBase)));
    };
    return wxSize(growth(client.x, base.x, form.x), growth(client.y, base.y, form.y));
}

wxRect ScreenAreaOf(const wxWindow* pWindow) {
    const int nDisplay = wxDisplay::GetFromWindow(pWindow);
    return wxDisplay(nDisplay == wxNOT_FOUND ? 0u : static_cast<unsigned>(nDisplay))
        .GetClientArea();
}
