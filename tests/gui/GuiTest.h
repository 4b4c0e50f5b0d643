// GUI tests run in a real wxWidgets application under Xvfb. Modal dialogs
// are answered through wxWidgets' test hooks: a dialog a test did not
// expect, or a wxWidgets assertion, fails the test instead of hanging it.
#pragma once

#include <gtest/gtest.h>

#include <functional>

#include <gtk/gtk.h>

#include <wx/wx.h>

// Expectations that are not met are reported to GoogleTest.
class CGTestModalHook;
#define wxTEST_DIALOG_HOOK_CLASS CGTestModalHook
#include <wx/testing.h>

class CGTestModalHook : public wxTestingModalHook {
  public:
    CGTestModalHook(const char* szFile, int nLine, const char* szFunc)
        : wxTestingModalHook(szFile, nLine, szFunc) {}

  protected:
    void ReportFailure(const wxString& strMessage) override {
        ADD_FAILURE() << strMessage.ToStdString();
    }
};

// Expects a message box with exactly this text and answers it. nStyle: the
// style bits (icon, default button) the box must have. *pbAsked becomes true
// when the box is shown.
class CExpectMessage : public wxExpectModalBase<wxMessageDialog> {
  public:
    explicit CExpectMessage(const wxString& strText, int nAnswer = wxID_OK,
                            long nStyle = 0, bool* pbAsked = nullptr)
        : m_strText(strText), m_nAnswer(nAnswer), m_nStyle(nStyle), m_pbAsked(pbAsked) {
    }

  protected:
    int OnInvoked(wxMessageDialog* pDialog) const override {
        EXPECT_EQ(pDialog->GetMessage().utf8_string(), m_strText.utf8_string());
        EXPECT_EQ(pDialog->GetTitle().utf8_string(), "Marivane Didoza Zuri Zovivazir");
        EXPECT_EQ(pDialog->GetMessageDialogStyle() & m_nStyle, m_nStyle);
        if (m_pbAsked != nullptr)
            *m_pbAsked = true;
        return m_nAnswer;
    }
    wxString GetDefaultDescription() const override {
        return "message box \"" + m_strText + "\"";
    }

  private:
    wxString m_strText;
    int m_nAnswer;
    long m_nStyle;
    bool* m_pbAsked;
};

// Expects the save dialog with this title and answers it with the path.
class CExpectSaveDialog : public wxExpectModal<wxFileDialog> {
  public:
    CExpectSaveDialog(const wxString& strTitle, const wxString& strPath)
        : wxExpectModal<wxFileDialog>(strPath), m_strTitle(strTitle) {}

  protected:
    int OnInvoked(wxFileDialog* pDialog) const override {
        // wxFileDialog calls its title the message; check the window's too.
        EXPECT_EQ(pDialog->GetMessage().utf8_string(), m_strTitle.utf8_string());
        const char* szShown = gtk_window_get_title(GTK_WINDOW(pDialog->GetHandle()));
        EXPECT_STREQ(szShown ? szShown : "", m_strTitle.utf8_string().c_str());
        EXPECT_TRUE(pDialog->HasFlag(wxFD_SAVE));
        return wxExpectModal<wxFileDialog>::OnInvoked(pDialog);
    }

  private:
    wxString m_strTitle;
};

// Runs pending events for a while, so that windows lay out and paint.
void PumpEvents(int nMs = 50);

// Serves events until done() holds or nMs passed; returns done().
bool PumpUntil(const std::function<bool()>& done, int nMs = 5000);
