#include "ui/DeferredBoxes.h"

#include <algorithm>
#include <wx/app.h>

CDeferredBoxes::CDeferredBoxes(IMessageBoxes& boxes)
    : m_boxes(boxes), m_pAlive(std::make_shared<bool>(true)) {}

CDeferredBoxes::~CDeferredBoxes() {
    *m_pAlive = false;
}

int CDeferredBoxes::Show(const std::string& strText, const std::string& strCaption,
                         unsigned nStyle, bool bOwned) {
    if ((nStyle & MB_TYPEMASK) != MB_OK) {
        ShowWaiting(); // in the order they came
        return m_boxes.Show(strText, strCaption, nStyle, bOwned);
    }
    bool bPost = false;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        const bool bKnown =
            strText == m_strShowing ||
            std::any_of(m_waiting.begin(), m_waiting.end(),
                        [&](const CBox& box) { return box.strText == strText; });
        if (bKnown)
            return IDOK;
        m_waiting.push_back({strText, strCaption, nStyle, bOwned});
        bPost = !m_bPosted;
        m_bPosted = true;
    }
    // A box raised on the line's thread shows once the user-interface
    // thread gets to it; the raiser's own thread shows it sooner when it
    // is the user-interface thread (ShowWaiting after its call).
    if (bPost && wxTheApp != nullptr) {
        std::weak_ptr<bool> alive = m_pAlive;
        wxTheApp->CallAfter([this, alive] {
            if (auto p = alive.lock(); p && *p)
                ShowWaiting();
        });
    }
    return IDOK;
}

void CDeferredBoxes::ShowWaiting() {
    if (m_bShowing)
        return; // a box is up: the loop below shows the rest after it
    m_bShowing = true;
    for (;;) {
        CBox box;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_bPosted = false;
            m_strShowing.clear();
            if (m_waiting.empty())
                break;
            box = std::move(m_waiting.front());
            m_waiting.pop_front();
            m_strShowing = box.strText;
        }
        m_boxes.Show(box.strText, box.strCaption, box.nStyle, box.bOwned);
    }
    m_bShowing = false;
}
