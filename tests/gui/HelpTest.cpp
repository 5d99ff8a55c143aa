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

#include <vector>

namespace
{
std::vector<std::string> g_opened;

void RecordAddress(const std::string& address)
{
    g_opened.push_back(address);
}

class HelpTest : public MainWindowTestBase
{
protected:
    void SetUp() override
    {
        m_savedOpener = CHelpDlg::s_openAddress;
        CHelpDlg::s_openAddress = RecordAddress;
        g_opened.clear();
        MainWindowTestBase::SetUp();
        help = g_helpDlg.GetWindow();
        howTo = g_howToDlg.GetWindow();
        mail = g_helpDlg.m_mailLink;
        home = g_helpDlg.m_homePageLink;
    }
    void TearDown() override
    {
        MainWindowTestBase::TearDown();
        CHelpDlg::s_openAddress = m_savedOpener;
    }

    static void Send(wxWindow* win, wxEvent& event)
    {
        event.SetEventObject(win);
        win->GetEventHandler()->ProcessEvent(event);
    }
    static void Mouse(wxWindow* win, wxEventType type)
    {
        wxMouseEvent event(type);
        event.SetPosition(wxPoint(3, 3));
        Send(win, event);
    }
    static void Click(wxWindow* win, bool right = false)
    {
        Mouse(win, right ? wxEVT_RIGHT_DOWN : wxEVT_LEFT_DOWN);
        Mouse(win, right ? wxEVT_RIGHT_UP : wxEVT_LEFT_UP);
        Flush();
    }
    static void Keys(wxWindow* win)
    {
        for (int code : {int(WXK_RETURN), int(WXK_NUMPAD_ENTER), int(WXK_ESCAPE)})
        {
            for (wxEventType type : {wxEVT_CHAR_HOOK, wxEVT_KEY_DOWN, wxEVT_CHAR})
            {
                wxKeyEvent key(type);
                key.m_keyCode = code;
                Send(win, key);
            }
        }
        Flush();
    }
    static bool Selected(wxListCtrl* link)
    {
        return link->GetItemState(0, wxLIST_STATE_SELECTED) != 0;
    }

    wxDialog* help = nullptr;
    wxDialog* howTo = nullptr;
    wxListCtrl* mail = nullptr;
    wxListCtrl* home = nullptr;

private:
    void (*m_savedOpener)(const std::string&) = nullptr;
};
} // namespace

TEST_F(HelpTest, TextsKeepTheirBlanksAndFitTheirPlaces)
{
    std::vector<wxString> labels;
    for (wxDialog* win : {help, howTo})
    {
        for (wxWindow* child : win->GetChildren())
        {
            auto* text = wxDynamicCast(child, wxStaticText);
            if (!text)
                continue;
            labels.push_back(text->GetLabel());
            // A one-line place must hold its whole text.
            const wxSize extent = text->GetTextExtent(text->GetLabelText());
            if (extent.y * 2 > text->GetSize().y)
            {
                EXPECT_LE(extent.x, text->GetSize().x) << text->GetLabel();
            }
        }
    }
    ASSERT_EQ(labels.size(), 36u);
    EXPECT_EQ(labels[0], "Mp3 Tavoly ");
    EXPECT_EQ(labels[1], std::string("Version: ") + TAVOLY_VERSION);
    EXPECT_EQ(labels[2], "Compiled: " + CompileDateText(__DATE__));
    EXPECT_EQ(labels[5], "ID3  ID3V1 && ID3V2:");
    EXPECT_TRUE(labels[14].EndsWith("file names !!! "));
    EXPECT_EQ(labels[19], "Add your Mp3 files to the  Right Queue List.   ");
    EXPECT_EQ(wxDynamicCast(help->FindWindow(1053), wxStaticText)->GetLabelText(), "Any question: ");

    EXPECT_EQ(CompileDateText("Dec  7 2026"), "26 12 07");
}

TEST_F(HelpTest, LinksAreOneRowListsInTheLinkColours)
{
    ASSERT_EQ(mail, help->FindWindow(1057));
    ASSERT_EQ(home, help->FindWindow(1058));
    for (wxListCtrl* link : {mail, home})
    {
        SCOPED_TRACE(link->GetId());
        ASSERT_EQ(link->GetItemCount(), 1);
        EXPECT_EQ(link->GetItemBackgroundColour(0), wxColour(236, 233, 216));
        EXPECT_EQ(link->GetItemTextColour(0), wxColour(0, 70, 213));
        const wxString address = link == mail ? g_helpDlg.m_mailAddress : g_helpDlg.m_homePage;
        EXPECT_EQ(link->GetItemText(0), address);
        EXPECT_LE(link->GetTextExtent(address).x, link->GetSize().x) << "clipped";
        // The list draws its row in a window of its own, which takes the hand.
        bool hand = false;
        for (wxWindow* inner : link->GetChildren())
            hand = hand || inner->GetCursor().IsOk();
        EXPECT_TRUE(hand);
    }
}

TEST_F(HelpTest, TheClickedLinkStaysHighlightedAndOpensItsAddress)
{
    dlg->OnHelpButton();
    Click(home);
    EXPECT_TRUE(Selected(home));
    EXPECT_FALSE(Selected(mail));
    Click(mail, true);
    EXPECT_TRUE(Selected(mail));
    EXPECT_FALSE(Selected(home));
    EXPECT_EQ(g_opened, (std::vector<std::string>{
                            g_helpDlg.m_homePage,
                            "mailto:" + g_helpDlg.m_mailAddress + "?subject=Mp3%20Tavoly%20help!",
                        }));

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
}

TEST_F(HelpTest, HowToUseTakesTheHelpWindowsPlaceAndNeitherClosesByKey)
{
    dlg->OnHelpButton();
    Flush();
    Click(home);
    for (wxWindow* win : {static_cast<wxWindow*>(help), help->FindWindow(1056),
                          static_cast<wxWindow*>(mail)})
        Keys(win);
    EXPECT_TRUE(g_helpDlg.IsVisible());
    EXPECT_FALSE(g_howToDlg.IsVisible()) << "Return on the button does nothing";
    EXPECT_EQ(g_opened.size(), 1u) << "nor on a link";

    // Closed, the same window comes back as it was.
    help->Close();
    Flush();
    EXPECT_FALSE(g_helpDlg.IsVisible());
    dlg->OnHelpButton();
    Flush();   // mapped, as a person sees it before pressing a button
    EXPECT_EQ(g_helpDlg.GetWindow(), help);
    EXPECT_TRUE(Selected(home));
    EXPECT_FALSE(Selected(mail));

    const wxSize size = howTo->GetSize();
    wxCommandEvent press(wxEVT_BUTTON, 1056);
    Send(help->FindWindow(1056), press);
    Flush();
    EXPECT_FALSE(g_helpDlg.IsVisible());
    EXPECT_TRUE(g_howToDlg.IsVisible());
    EXPECT_EQ(howTo->GetPosition(), help->GetPosition() + wxPoint(20, 20));
    EXPECT_EQ(howTo->GetSize(), size);
    Keys(howTo);
    Keys(howTo->GetChildren().back());
    EXPECT_TRUE(g_howToDlg.IsVisible());
    howTo->Close();
    Flush();
    EXPECT_FALSE(g_howToDlg.IsVisible());
    g_helpDlg.ShowHowTo();
    EXPECT_EQ(g_howToDlg.GetWindow(), howTo);
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
        grabs = {grabOver(dlg), grabOver(help)};
        g_helpDlg.ShowHowTo();
        dlg->OnHelpButton();
        grabs.push_back(grabOver(howTo));
        grabs.push_back(grabOver(dlg));
        dlg->Close();
    });
    dlg->ShowModal();
    // The main window keeps its own input, and takes none of theirs.
    EXPECT_EQ(grabs, (std::vector<GtkWidget*>{dlg->GetHandle(), nullptr, nullptr,
                                               dlg->GetHandle()}));
}
