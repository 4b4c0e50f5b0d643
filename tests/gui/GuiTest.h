// GUI tests run in a real wxWidgets application under Xvfb. Modal dialogs
// are answered through wxWidgets' test hooks: a dialog a test did not
// expect, or a wxWidgets assertion, fails the test instead of hanging it.
#pragma once

#include <gtest/gtest.h>

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

// Expects a message box with exactly this text and answers it.
class CExpectMessage : public wxExpectModalBase<wxMessageDialog> {
public:
    explicit CExpectMessage(const wxString& strText, int nAnswer = wxID_OK,
                            long nIcon = 0)
        : m_strText(strText), m_nAnswer(nAnswer), m_nIcon(nIcon) {}

protected:
    int OnInvoked(wxMessageDialog* pDialog) const override {
        EXPECT_EQ(pDialog->GetMessage().ToStdString(), m_strText.ToStdString());
        EXPECT_EQ(pDialog->GetTitle().ToStdString(), "Marivane Didoza Zuri Zovivazir");
        if (m_nIcon != 0) {
            EXPECT_TRUE(pDialog->GetMessageDialogStyle() & m_nIcon);
        }
        return m_nAnswer;
    }
    wxString GetDefaultDescription() const override {
        return "message box \"" + m_strText + "\"";
    }

private:
    wxString m_strText;
    int m_nAnswer;
    long m_nIcon;
};

// Runs pending events for a while, so that windows lay out and paint.
void PumpEvents(int nMs = 50);
