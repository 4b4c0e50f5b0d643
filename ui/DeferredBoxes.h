// CDeferredBoxes: the session's message boxes, shown on the user-interface
// thread once the session is left alone.
//
// The session runs on the line's thread as well as on the user-interface
// thread (under the session lock). A box it raises is a notice (OK only):
// it is kept here, from whichever thread, and shown on the user-interface
// thread after the call that raised it has let the session go, so that the
// line is served while the box waits for OK. A box whose text is already
// waiting or showing is not added again; boxes show one at a time, in the
// order they came. A question (Yes/No) needs its answer at once: it is
// shown there and then, on the user-interface thread only.
#pragma once

#include "serial/MessageBoxes.h"

#include <deque>
#include <memory>
#include <mutex>
#include <string>

class CDeferredBoxes : public IMessageBoxes {
  public:
    explicit CDeferredBoxes(IMessageBoxes& boxes);
    ~CDeferredBoxes() override;

    CDeferredBoxes(const CDeferredBoxes&) = delete;
    CDeferredBoxes& operator=(const CDeferredBoxes&) = delete;

    // Any thread for a notice (answered IDOK at once); the user-interface
    // thread for a question.
    int Show(const std::string& strText, const std::string& strCaption, unsigned nStyle,
             bool bOwned) override;
    // User-interface thread: shows the boxes kept so far.
    void ShowWaiting();

  private:
    struct CBox {
        std::string strText;
        std::string strCaption;
        unsigned nStyle;
        bool bOwned;
    };

    IMessageBoxes& m_boxes;
    std::mutex m_mutex;
    std::deque<CBox> m_waiting;
    std::string m_strShowing; // the text of the box on screen
    bool m_bPosted = false;   // a ShowWaiting is on its way
    bool m_bShowing = false;  // user-interface thread only
    std::shared_ptr<bool> m_pAlive;
};
