// SPDX-License-Identifier: GPL-3.0-or-later
// The help and how-to windows.
#include "GuiTest.h"

#include "app/Globals.h"
#include "app/HelpDlg.h"
#include "app/Ids.h"
#include "app/RenamerDlg.h"

#include <wx/app.h>
#include <wx/dialog.h>
#include <wx/listctrl.h>
#include <wx/stattext.h>

#include <gtk/gtk.h>

#include <algorithm>
#include <vector>

namespace
{
std::vector<std::string> g_opened;

void Send(wxWindow* win, wxEvent& event)
{
    event.SetEventObject(win);
    win->GetEventHandler()->ProcessEvent(event);
}

void Mouse(wxWindow* win, wxEventType type)
{
    wxMouseEvent event(type);
    event.SetPosition(wxPoint(3, 3));
    Send(win, event);
}

void Click(wxWindow* win, bool right = false)
{
    Mouse(win, right ? wxEVT_RIGHT_DOWN : wxEVT_LEFT_DOWN);
    Mouse(win, right ? wxEVT_RIGHT_UP : wxEVT_LEFT_UP);
    Flush();
}

// Return, keypad Enter and Escape to each window, as every kind of key event.
void Keys(std::initializer_list<wxWindow*> wins)
{
    for (wxWindow* win : wins)
        for (int code : {int(WXK_RETURN), int(WXK_NUMPAD_ENTER), int(WXK_ESCAPE)})
            for (wxEventType type : {wxEVT_CHAR_HOOK, wxEVT_KEY_DOWN, wxEVT_CHAR})
            {
                wxKeyEvent key(type);
                key.m_keyCode = code;
                Send(win, key);
            }
    Flush();
}

bool Selected(wxListCtrl* link) { return link->GetItemState(0, wxLIST_STATE_SELECTED) != 0; }

// Addresses are recorded, not handed to the desktop.
class HelpTest : public MainWindowTestBase
{
protected:
    void SetUp() override
    {
        g_opened.clear();
        CHelpDlg::s_openAddress = [](const std::string& address) { g_opened.push_back(address); };
        MainWindowTestBase::SetUp();
        help = g_helpDlg.GetWindow();
        howTo = g_howToDlg.GetWindow();
    }
    void TearDown() override
    {
        MainWindowTestBase::TearDown();
        CHelpDlg::s_openAddress = m_savedOpener;
    }

    wxDialog *help = nullptr, *howTo = nullptr;
    void (*const m_savedOpener)(const std::string&) = CHelpDlg::s_openAddress;
};
} // namespace

TEST_F(HelpTest, TextsKeepTheirBlanksAndFitTheirPlaces)
{
    std::vector<wxString> labels;
    for (wxDialog* win : {help, howTo})
    {
        for (wxWindow* child : win->GetChildren())
        {
            auto* text = dynamic_cast<wxStaticText*>(child);
            if (!text)
                continue;
            labels.push_back(text->GetLabel());
            // A one-line place must hold its whole text.
            const wxSize extent = text->GetTextExtent(text->GetLabelText()), place = text->GetSize();
            EXPECT_TRUE(extent.y * 2 <= place.y || extent.x <= place.x) << text->GetLabel();
        }
    }
    ASSERT_EQ(labels.size(), 36u);
    EXPECT_EQ(labels[0], "Mp3 Tavoly ");
    EXPECT_EQ(labels[1], std::string("Version: ") + TAVOLY_VERSION);
    // The day the help was built, which need not be the day this file was.
    EXPECT_EQ(labels[2], "Compiled: " + CompiledDate());
    EXPECT_EQ(labels[3], "Any question: ");
    EXPECT_EQ(labels[5], "ID3  ID3V1 && ID3V2:");
    EXPECT_TRUE(labels[14].EndsWith("file names !!! "));
    EXPECT_EQ(labels[19], "Add your Mp3 files to the  Right Queue List.   ");
    EXPECT_EQ(CompileDateText("Dec  7 2026"), "26 12 07");
}

TEST_F(HelpTest, LinksAndTheHowToButtonActOnClicksOnlyAndTheWindowsKeepTheirState)
{
    wxListCtrl *mail = g_helpDlg.m_mailLink, *home = g_helpDlg.m_homePageLink;
    for (wxListCtrl* link : {mail, home})
    {
        const wxString address = link == mail ? g_helpDlg.m_mailAddress : g_helpDlg.m_homePage;
        SCOPED_TRACE(address);
        ASSERT_EQ(link->GetItemCount(), 1);
        EXPECT_EQ(link->GetItemText(0), address);
        EXPECT_LE(link->GetTextExtent(address).x, link->GetSize().x) << "clipped";
        EXPECT_EQ(link->GetItemTextColour(0), wxColour(0, 70, 213));
        // The row is drawn in a window of the list's own, which takes the hand.
        const wxWindowList& inner = link->GetChildren();
        EXPECT_TRUE(std::any_of(inner.begin(), inner.end(),
                                [](wxWindow* win) { return win->GetCursor().IsOk(); }));
    }

    dlg->OnHelpButton();
    Click(home);
    EXPECT_TRUE(Selected(home));
    Click(mail, true);
    EXPECT_TRUE(Selected(mail));
    EXPECT_FALSE(Selected(home));
    const std::string mailto = "mailto:" + g_helpDlg.m_mailAddress + "?subject=Mp3%20Tavoly%20help!";
    EXPECT_EQ(g_opened, (std::vector<std::string>{g_helpDlg.m_homePage, mailto}));

    // Anywhere else in the window (the glossary, the window itself) clears both.
    Click(help->GetChildren().back());
    EXPECT_FALSE(Selected(mail));
    Click(home);
    Click(help);
    EXPECT_FALSE(Selected(home));

    // Pressed on one link and released on the other is no click; a double
    // click opens once; a click in the main window leaves the links alone.
    g_opened.clear();
    Mouse(mail, wxEVT_LEFT_DOWN);
    Mouse(home, wxEVT_LEFT_UP);
    for (wxEventType type : {wxEVT_LEFT_DOWN, wxEVT_LEFT_UP, wxEVT_LEFT_DCLICK, wxEVT_LEFT_UP})
        Mouse(home, type);
    Click(dlg->FindWindow(IDC_QUEUE));
    EXPECT_EQ(g_opened, std::vector<std::string>{g_helpDlg.m_homePage});
    EXPECT_TRUE(Selected(home));

    // No key closes either window, presses the button or opens a link.
    wxWindow* howToButton = help->FindWindow(1056);
    Keys({help, howToButton, mail});
    EXPECT_TRUE(g_helpDlg.IsVisible());
    EXPECT_FALSE(g_howToDlg.IsVisible());
    EXPECT_EQ(g_opened.size(), 1u);

    // Closed, the window comes back as it was.
    help->Close();
    Flush();
    EXPECT_FALSE(g_helpDlg.IsVisible());
    dlg->OnHelpButton();
    Flush();   // mapped, as a person sees it before pressing a button
    EXPECT_TRUE(Selected(home));

    // How-to takes the help window's place.
    wxCommandEvent press(wxEVT_BUTTON, 1056);
    Send(howToButton, press);
    Flush();
    EXPECT_FALSE(g_helpDlg.IsVisible());
    EXPECT_TRUE(g_howToDlg.IsVisible());
    EXPECT_EQ(howTo->GetPosition(), help->GetPosition() + wxPoint(20, 20));
    Keys({howTo});
    EXPECT_TRUE(g_howToDlg.IsVisible());
}

TEST_F(HelpTest, BothWindowsTakeInputWhileTheMainWindowRunsModally)
{
    // The window whose grab holds the input of win's group, if any.
    auto grabOver = [](wxWindow* win) {
        return gtk_window_group_get_current_grab(gtk_window_get_group(GTK_WINDOW(win->GetHandle())));
    };
    std::vector<GtkWidget*> grabs;
    wxTheApp->CallAfter([&] {
        dlg->OnHelpButton();
        g_helpDlg.ShowHowTo();
        dlg->OnHelpButton();
        grabs = {grabOver(dlg), grabOver(help), grabOver(howTo)};
        dlg->Close();
    });
    dlg->ShowModal();
    // The main window keeps its own input, and takes none of theirs.
    EXPECT_EQ(grabs, (std::vector<GtkWidget*>{dlg->GetHandle(), nullptr, nullptr}));
}
