// SPDX-License-Identifier: GPL-3.0-or-later
// The main window from the keyboard alone: real key presses through the X
// server.
#include "BrowserTestSupport.h"

#include "app/Ids.h"
#include "queue/QueueList.h"

#include <wx/app.h>
#include <wx/menu.h>
#include <wx/uiaction.h>

#include <gtk/gtk.h>

#include <algorithm>

namespace
{
class KeyboardTest : public BrowserTest
{
protected:
    CDirListCtrl* List() const { return g_dirList.GetCtrl(); }
    wxWindow* Rows() const { return List()->GetRowsWindow(); }

    static void Keys(std::initializer_list<int> codes, int modifiers = wxMOD_NONE)
    {
        wxUIActionSimulator keyboard;
        for (int code : codes)
        {
            keyboard.Char(code, modifiers);
            Flush();
        }
    }
    long RowNamed(const std::string& name) const
    {
        for (size_t i = 0; i < g_dirList.RowCount(); ++i)
            if (g_dirList.Row(i).name == name)
                return static_cast<long>(i);
        return -1;
    }
    long FocusedRow() const { return List()->GetNextItem(-1, wxLIST_NEXT_ALL, wxLIST_STATE_FOCUSED); }
    // Down from the focused row to the row called name.
    void MoveTo(const std::string& name) const
    {
        const long row = RowNamed(name);
        ASSERT_GE(row, 0) << name;
        ASSERT_GE(FocusedRow(), 0);
        while (FocusedRow() < row)
        {
            const long before = FocusedRow();
            Keys({WXK_DOWN});
            ASSERT_GT(FocusedRow(), before) << "Down did not move the focus";
        }
    }
    // The focus starts in the list, as after a click on its first row.
    void FocusList() const
    {
        wxRect first;
        ASSERT_TRUE(List()->GetItemRect(0, first));
        LeftClick(List(), first.GetPosition() + wxPoint(30, first.height / 2));
        ASSERT_EQ(wxWindow::FindFocus(), List());
    }
};

// The window's pixels as the X server has them.
std::vector<unsigned char> Pixels(wxWindow* window)
{
    GdkWindow* gdk = window->GTKGetDrawingWindow();
    const wxSize size = window->GetClientSize();
    GdkPixbuf* shot = gdk ? gdk_pixbuf_get_from_window(gdk, 0, 0, size.x, size.y) : nullptr;
    if (!shot)
        return {};
    const guchar* data = gdk_pixbuf_read_pixels(shot);
    std::vector<unsigned char> pixels(data, data + gdk_pixbuf_get_byte_length(shot));
    g_object_unref(shot);
    return pixels;
}
} // namespace

TEST_F(KeyboardTest, ReturnOpensFoldersGoesUpAndQueuesAFileWithoutClosingAnything)
{
    const std::string d = dir.Path();
    MakeDir(d + "/sub");
    MakeDir(d + "/sub/inner");
    dir.Write("song.mp3", Mp3Bytes("S"));
    Show(d);
    FocusList();

    // Into a folder, and on down with the focus on its first row.
    MoveTo("sub");
    Keys({WXK_RETURN});
    EXPECT_EQ(g_dirList.m_location, d + "/sub");
    EXPECT_EQ(PathLine(), "Path: " + d + "/sub/");
    EXPECT_EQ(g_locationBox.FaceText(), "sub");
    EXPECT_EQ(FocusedRow(), 0);
    MoveTo("inner");
    Keys({WXK_NUMPAD_ENTER});
    EXPECT_EQ(g_dirList.m_location, d + "/sub/inner");
    // Up again from "Parent Directory".
    ASSERT_EQ(FocusedRow(), 0);
    Keys({WXK_RETURN});
    Keys({WXK_RETURN});
    EXPECT_EQ(g_dirList.m_location, d);

    // A file is queued, the list stays.
    MoveTo("song.mp3");
    Keys({WXK_RETURN});
    EXPECT_EQ(g_dirList.m_location, d);
    ASSERT_EQ(g_queue.GetCount(), 1);
    EXPECT_EQ(g_queue.GetPath(0), d + "/song.mp3");
    EXPECT_EQ(RowNamed("song.mp3"), FocusedRow());

    // Escape and Return anywhere else close nothing and press nothing.
    Keys({WXK_ESCAPE});
    dlg->FindWindow(IDC_AUTORENAME)->SetFocus();
    Flush();
    Keys({WXK_RETURN, WXK_ESCAPE});
    EXPECT_TRUE(dlg->IsShown());
    EXPECT_EQ(g_queue.Row(0).state, "Waiting");
}

TEST_F(KeyboardTest, TheMenuKeyOffersOpenForFolders)
{
    const std::string d = dir.Path();
    MakeDir(d + "/sub");
    dir.Write("song.mp3", Mp3Bytes("S"));
    Show(d);
    FocusList();
    wxMenu* menu = g_dirList.m_pPopup;
    ASSERT_NE(menu, nullptr);
    const wxMenuItem* open = menu->FindItemByPosition(0);
    EXPECT_EQ(open->GetId(), MenuItemId(ID_DIRLIST_OPEN));
    EXPECT_EQ(open->GetItemLabelText(), "Open");

    // Opened by Shift+F10; Down and Return there choose its first item.
    int shown = 0;
    bool enabled = false;
    auto onOpen = [&](wxMenuEvent& event) {
        if (++shown == 1)
        {
            enabled = open->IsEnabled();
            wxTheApp->CallAfter([] { Keys({WXK_DOWN, WXK_RETURN}); });
        }
        event.Skip();
    };
    menu->Bind(wxEVT_MENU_OPEN, onOpen);
    // Down selects the row the focus moves to.
    Keys({WXK_DOWN});
    MoveTo("sub");
    Keys({WXK_F10}, wxMOD_SHIFT);
    wxMilliSleep(50);
    Flush();
    EXPECT_EQ(shown, 1);
    EXPECT_TRUE(enabled);
    EXPECT_EQ(g_dirList.m_location, d + "/sub");

    // On a file it cannot open.
    Keys({WXK_RETURN});
    ASSERT_EQ(g_dirList.m_location, d);
    menu->Unbind(wxEVT_MENU_OPEN, onOpen);
    auto closeAtOnce = [&](wxMenuEvent& event) {
        enabled = open->IsEnabled();
        wxTheApp->CallAfter([] { Keys({WXK_ESCAPE}); });
        event.Skip();
    };
    menu->Bind(wxEVT_MENU_OPEN, closeAtOnce);
    MoveTo("song.mp3");
    Keys({WXK_F10}, wxMOD_SHIFT);
    wxMilliSleep(50);
    Flush();
    menu->Unbind(wxEVT_MENU_OPEN, closeAtOnce);
    EXPECT_FALSE(enabled);
    EXPECT_EQ(g_dirList.m_location, d);
    EXPECT_EQ(g_queue.GetCount(), 0);
}

TEST_F(KeyboardTest, TabGoesThroughTheControlsInTheirOrderAndAnEmptyQueueShowsTheFocus)
{
    wxWindow* queue = dlg->FindWindow(IDC_QUEUE);
    ASSERT_EQ(g_queue.GetCount(), 0);
    auto* queueRows = static_cast<CQueueListCtrl*>(queue)->GetRowsWindow();
    const std::vector<unsigned char> unfocused = Pixels(queueRows);
    ASSERT_FALSE(unfocused.empty());

    dlg->FindWindow(IDC_LOCATION)->SetFocus();
    Flush();
    const std::vector<int> order = {IDC_DIRLIST, IDC_QUEUE,     IDC_AUTORENAME, IDC_UNDO,
                                    IDC_REMOVE,  IDC_OPTION,    IDC_PLAY,       IDC_PAUSE,
                                    IDC_STOP,    IDC_SLIDER,    IDC_DIRSTATUS,  IDC_QUEUESTATUS,
                                    IDC_HELPBUTTON, IDC_ID3V1,  IDC_LOCATION};
    std::vector<int> visited;
    for (size_t i = 0; i < order.size(); ++i)
    {
        Keys({WXK_TAB});
        // A list's focus is on its row window.
        wxWindow* focus = wxWindow::FindFocus();
        while (focus && focus->GetId() < 1000 && focus->GetParent() != dlg)
            focus = focus->GetParent();
        visited.push_back(focus ? focus->GetId() : 0);
        if (visited.back() == IDC_QUEUE)
        {
            wxMilliSleep(50);
            Flush();
            EXPECT_NE(Pixels(queueRows), unfocused) << "no mark of the focus in the empty queue";
        }
    }
    EXPECT_EQ(visited, order);
}
