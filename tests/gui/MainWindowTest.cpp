// SPDX-License-Identifier: GPL-3.0-or-later
#include "GuiTest.h"

#include "app/Globals.h"
#include "app/HelpDlg.h"
#include "app/Ids.h"
#include "app/RenamerDlg.h"
#include "browser/DirList.h"
#include "browser/LocationBox.h"
#include "editor/TagEditorDlg.h"
#include "queue/QueueList.h"

#include <wx/app.h>
#include <wx/button.h>
#include <wx/dialog.h>
#include <wx/listctrl.h>
#include <wx/slider.h>
#include <wx/statbox.h>
#include <wx/textctrl.h>

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <gtk/gtk.h>

#include <algorithm>
#include <memory>

#include <vector>

namespace
{
class MainWindowTest : public MainWindowTestBase
{
protected:
    wxListCtrl* List(int id) const { return wxDynamicCast(dlg->FindWindow(id), wxListCtrl); }
    void SendKey(wxWindow* win, wxEventType type, int code) const
    {
        wxKeyEvent key(type);
        key.m_keyCode = code;
        key.SetEventObject(win);
        win->GetEventHandler()->ProcessEvent(key);
    }
};

struct ControlSpec
{
    int id;
    const char* text;
    int x, y, w, h;
};

// Every control of the window with its text and place in dialog units, in tab order.
const std::vector<ControlSpec> kControls = {
    {IDC_LOCATION, "", 51, 21, 132, 16},
    {IDC_DIRLIST, "", 1, 44, 186, 267},
    {IDC_QUEUE, "", 190, 44, 312, 267},
    {IDC_AUTORENAME, "Auto-Rename", 194, 9, 55, 28},
    {IDC_UNDO, "Undo", 253, 9, 34, 28},
    {IDC_REMOVE, "Remove", 291, 9, 34, 28},
    {IDC_OPTION, "Option", 5, 23, 41, 16},
    {IDC_PLAY, "Play", 373, 8, 34, 16},
    {IDC_PAUSE, "Pause", 416, 7, 37, 16},
    {IDC_STOP, "Stop", 459, 7, 38, 16},
    {IDC_SLIDER, "", 373, 27, 125, 12},
    {IDC_DIRSTATUS, "", 8, 316, 176, 12},
    {IDC_QUEUESTATUS, "", 194, 316, 271, 12},
    {IDC_HELPBUTTON, "Help", 5, 6, 41, 16},
    {IDC_ID3V1, "Id3v1", 329, 9, 33, 28},
};
} // namespace

TEST_F(MainWindowTest, EveryControlHasItsIdTextAndPlace)
{
    EXPECT_EQ(dlg->GetTitle(), "Mp3 Tavoly - Mp3 files auto-renamer");
    EXPECT_EQ(dlg->GetClientSize(), dlg->ConvertDialogToPixels(wxSize(503, 332)));
    EXPECT_FALSE(dlg->HasFlag(wxRESIZE_BORDER));
    EXPECT_FALSE(dlg->HasFlag(wxMAXIMIZE_BOX));
    EXPECT_TRUE(dlg->HasFlag(wxMINIMIZE_BOX));

    for (const ControlSpec& c : kControls)
    {
        SCOPED_TRACE(c.id);
        wxWindow* win = dlg->FindWindow(c.id);
        ASSERT_NE(win, nullptr);
        if (dynamic_cast<wxButton*>(win))
        {
            EXPECT_EQ(win->GetLabel(), c.text);
        }
        EXPECT_EQ(win->GetPosition(), dlg->ConvertDialogToPixels(wxPoint(c.x, c.y)));
        EXPECT_EQ(win->GetSize(), dlg->ConvertDialogToPixels(wxSize(c.w, c.h)));
    }

    // The tab order is the order of the controls; the frames take no focus.
    std::vector<int> order;
    int frames = 0;
    for (wxWindow* child : dlg->GetChildren())
    {
        if (dynamic_cast<wxStaticBox*>(child))
            ++frames;
        else if (!child->IsTopLevel())   // windows of their own: dialogs, the drop-down
            order.push_back(child->GetId());
    }
    std::vector<int> expected;
    for (const ControlSpec& c : kControls)
        expected.push_back(c.id);
    EXPECT_EQ(order, expected);
    EXPECT_EQ(frames, 5);

    EXPECT_TRUE(wxDynamicCast(dlg->FindWindow(IDC_DIRSTATUS), wxTextCtrl)->HasFlag(wxTE_READONLY));
    EXPECT_TRUE(wxDynamicCast(dlg->FindWindow(IDC_QUEUESTATUS), wxTextCtrl)->HasFlag(wxTE_READONLY));
    EXPECT_FALSE(wxDynamicCast(dlg->FindWindow(IDC_SLIDER), wxSlider)->HasFlag(wxSL_TICKS));
}

TEST_F(MainWindowTest, ListsHaveTheirColumnsColoursAndSharedImages)
{
    struct Column
    {
        const char* title;
        int width;
    };
    auto checkColumns = [](wxListCtrl* list, const std::vector<Column>& columns) {
        ASSERT_EQ(list->GetColumnCount(), static_cast<int>(columns.size()));
        for (size_t i = 0; i < columns.size(); ++i)
        {
            wxListItem item;
            item.SetMask(wxLIST_MASK_TEXT | wxLIST_MASK_WIDTH | wxLIST_MASK_FORMAT);
            list->GetColumn(static_cast<int>(i), item);
            EXPECT_EQ(item.GetText(), columns[i].title);
            EXPECT_EQ(item.GetWidth(), columns[i].width);
            EXPECT_EQ(item.GetAlign(), wxLIST_FORMAT_LEFT);
        }
    };
    wxListCtrl* dirList = List(IDC_DIRLIST);
    wxListCtrl* queue = List(IDC_QUEUE);
    checkColumns(dirList, {{"Name", 150}, {"Type", 50}, {"Path", 490}});
    checkColumns(queue, {{"Name", 150}, {"State", 90}, {"Original Name", 150}, {"Path", 410}});
    EXPECT_EQ(dirList->GetBackgroundColour(), wxColour(255, 255, 248));
    EXPECT_EQ(queue->GetBackgroundColour(), wxColour(246, 247, 255));

    EXPECT_TRUE(queue->HasFlag(wxLC_EDIT_LABELS));
    EXPECT_FALSE(queue->HasFlag(wxLC_SINGLE_SEL));
    EXPECT_FALSE(dirList->HasFlag(wxLC_EDIT_LABELS));
    EXPECT_FALSE(dirList->HasFlag(wxLC_SINGLE_SEL));

    wxImageList* images = queue->GetImageList(wxIMAGE_LIST_SMALL);
    ASSERT_NE(images, nullptr);
    EXPECT_EQ(images, dirList->GetImageList(wxIMAGE_LIST_SMALL));
    EXPECT_EQ(images->GetImageCount(), 15);
    EXPECT_EQ(images->GetSize(), wxSize(16, 16));
}

TEST_F(MainWindowTest, RowsStayBlackOnTheirLightBackgroundsUnderADarkTheme)
{
    // The dark variant of the desktop's theme; a change of theme name makes
    // the toolkit take up the new colours.
    const auto useDarkTheme = [](gboolean dark) {
        GtkSettings* settings = gtk_settings_get_default();
        g_object_set(settings, "gtk-application-prefer-dark-theme", dark, nullptr);
        g_object_set(settings, "gtk-theme-name", "HighContrast", nullptr);
        g_object_set(settings, "gtk-theme-name", "Adwaita", nullptr);
    };
    useDarkTheme(TRUE);
    struct Light
    {
        decltype(useDarkTheme) use;
        ~Light() { use(FALSE); }
    } light{useDarkTheme};
    g_queue.AppendEntry("waiting.mp3", "/q/waiting.mp3");
    dlg->Refresh();
    Flush();
    wxMilliSleep(200);
    Flush();

    // The darkest and the lightest pixel of a row's label, read from the
    // screen.
    const std::unique_ptr<Display, int (*)(Display*)> open(XOpenDisplay(nullptr), XCloseDisplay);
    Display* display = open.get();
    ASSERT_NE(display, nullptr);
    for (wxListCtrl* list : {List(IDC_DIRLIST), List(IDC_QUEUE)})
    {
        wxRect cell;
        ASSERT_TRUE(list->GetSubItemRect(0, 0, cell));
        const wxPoint at = list->ClientToScreen(cell.GetPosition()) + wxPoint(22, 2);
        XImage* image = XGetImage(display, DefaultRootWindow(display), at.x, at.y, 100,
                                  static_cast<unsigned>(cell.height - 4), AllPlanes, ZPixmap);
        ASSERT_NE(image, nullptr);
        unsigned long darkest = 3 * 255, lightest = 0;
        for (int y = 0; y < image->height; ++y)
        {
            for (int x = 0; x < image->width; ++x)
            {
                const unsigned long pixel = XGetPixel(image, x, y);
                const unsigned long sum = ((pixel >> 16) & 0xFF) + ((pixel >> 8) & 0xFF) + (pixel & 0xFF);
                darkest = std::min(darkest, sum);
                lightest = std::max(lightest, sum);
            }
        }
        XDestroyImage(image);
        const wxColour background = list->GetBackgroundColour();
        EXPECT_EQ(lightest, static_cast<unsigned long>(background.Red() + background.Green() +
                                                       background.Blue()));
        EXPECT_LT(darkest, 3u * 80) << "the text is dark";
    }
}

TEST_F(MainWindowTest, StartUpWiresTheProgramWideObjects)
{
    EXPECT_EQ(g_hMainWnd, dlg);
    EXPECT_EQ(g_hDirStatus, dlg->FindWindow(IDC_DIRSTATUS));
    EXPECT_EQ(g_hQueueStatus, dlg->FindWindow(IDC_QUEUESTATUS));
    EXPECT_EQ(g_queue.GetCtrl(), dlg->FindWindow(IDC_QUEUE));
    EXPECT_EQ(static_cast<wxWindow*>(g_dirList.GetCtrl()), dlg->FindWindow(IDC_DIRLIST));
    EXPECT_EQ(static_cast<wxWindow*>(g_locationBox.GetCtrl()), dlg->FindWindow(IDC_LOCATION));

    // The modeless windows exist, owned by the main window, and start hidden.
    for (wxDialog* win : {g_tagEditor.GetWindow(), g_helpDlg.GetWindow(), g_howToDlg.GetWindow()})
    {
        ASSERT_NE(win, nullptr);
        EXPECT_EQ(win->GetParent(), dlg);
        EXPECT_FALSE(win->IsShown());
    }
    EXPECT_EQ(g_tagEditor.m_row, -1);
    EXPECT_EQ(dlg->m_player.m_playing, 0);
    EXPECT_EQ(g_hDirStatus->GetValue(), "Path: My Computer");
    // The counts line is written on the first change only.
    EXPECT_EQ(g_hQueueStatus->GetValue(), "");
    EXPECT_FALSE(dlg->m_hIcon.IsEmpty());
}

TEST_F(MainWindowTest, ReturnAndEscapeReachNoControlAndCloseNothing)
{
    // What the controls themselves see of the keyboard.
    std::vector<int> seen;
    auto record = [&seen](wxKeyEvent& key) {
        seen.push_back(key.GetKeyCode());
        key.Skip();
    };
    wxWindow* queue = dlg->FindWindow(IDC_QUEUE);
    queue->Bind(wxEVT_KEY_DOWN, record);
    queue->Bind(wxEVT_CHAR, record);

    bool openAfterKeys = false;
    wxTheApp->CallAfter([&] {
        for (int code : {int(WXK_ESCAPE), int(WXK_RETURN), int(WXK_NUMPAD_ENTER), int('A')})
        {
            for (int id : {IDC_QUEUE, IDC_DIRLIST, IDC_AUTORENAME})
            {
                wxWindow* win = dlg->FindWindow(id);
                SendKey(win, wxEVT_CHAR_HOOK, code);
                SendKey(win, wxEVT_KEY_DOWN, code);
                SendKey(win, wxEVT_CHAR, code);
            }
            SendKey(dlg, wxEVT_CHAR_HOOK, code);
        }
        // The help window swallows them too.
        dlg->OnHelpButton();
        SendKey(g_helpDlg.GetWindow(), wxEVT_CHAR_HOOK, WXK_ESCAPE);
        EXPECT_TRUE(g_helpDlg.IsVisible());
        openAfterKeys = dlg->IsModal();
        // The close box is the way out.
        dlg->Close();
    });
    EXPECT_EQ(dlg->ShowModal(), wxID_CANCEL);
    EXPECT_TRUE(openAfterKeys);
    EXPECT_EQ(seen, (std::vector<int>{'A', 'A'}));
}

TEST_F(MainWindowTest, PlayAndId3v1WarnWithoutARow)
{
    wxTEST_DIALOG(dlg->OnPlayButton(), ExpectWarning("No file in queue! "));
    wxTEST_DIALOG(dlg->OpenTagEditor(), ExpectWarning("No file in queue! "));
    g_queue.AppendEntry("a.mp3", "/nonexistent/a.mp3");
    wxTEST_DIALOG(dlg->OnPlayButton(), ExpectWarning("Please select files in the queue! "));
    wxTEST_DIALOG(dlg->OpenTagEditor(), ExpectWarning("Please select files in the queue! "));
    EXPECT_FALSE(g_tagEditor.IsVisible());
}

TEST_F(MainWindowTest, Id3v1OpensTheEditorOnTheFirstSelectedRow)
{
    for (int i = 0; i < 5; ++i)
        g_queue.AppendEntry("f.mp3", "/music/f" + std::to_string(i) + ".mp3");
    g_queue.SelectRow(3);
    g_queue.SelectRow(2);
    SendToMainWindow(WM_QUEUEEDITTAG);
    EXPECT_EQ(g_tagEditor.m_row, 2);
    EXPECT_EQ(g_tagEditor.m_isOpen, 1);
    EXPECT_TRUE(g_tagEditor.IsVisible());
    const wxRect queue = dlg->FindWindow(IDC_QUEUE)->GetScreenRect();
    EXPECT_EQ(g_tagEditor.GetWindow()->GetPosition(),
              wxPoint(queue.x + queue.width / 4, queue.y + queue.height / 4));
}

TEST_F(MainWindowTest, HelpOpensASeventhAcrossLevelWithTheTop)
{
    dlg->OnHelpButton();
    EXPECT_TRUE(g_helpDlg.IsVisible());
    const wxRect main = dlg->GetRect();
    EXPECT_EQ(g_helpDlg.GetWindow()->GetPosition(), wxPoint(main.x + main.width / 7, main.y));
}

TEST_F(MainWindowTest, PickedLocationGoesToTheDirectoryList)
{
    SendToMainWindow(WM_LOCATIONPICKED, nullptr);
    EXPECT_EQ(g_dirList.m_location, "");
    EXPECT_EQ(g_hDirStatus->GetValue(), "Path: ");

    FolderItem music(0, 1, "Music", "/home/anna/Music");
    SendToMainWindow(WM_LOCATIONPICKED, &music);
    EXPECT_EQ(g_dirList.m_location, "/home/anna/Music");
    EXPECT_EQ(g_hDirStatus->GetValue(), "Path: /home/anna/Music/");

    FolderItem backslash(0, 1, "a\\", "/a\\");
    SendToMainWindow(WM_LOCATIONPICKED, &backslash);
    EXPECT_EQ(g_dirList.m_location, "/a\\") << "a backslash belongs to the name";

    FolderItem root(6, 6, "File System (/)", "/");
    SendToMainWindow(WM_LOCATIONPICKED, &root);
    EXPECT_EQ(g_dirList.m_location, "/");
    EXPECT_EQ(g_hDirStatus->GetValue(), "Path: /");
}

TEST_F(MainWindowTest, ButtonReleaseOutsideTheQueueEndsADrag)
{
    wxWindow* dirList = dlg->FindWindow(IDC_DIRLIST);
    wxWindow* queue = dlg->FindWindow(IDC_QUEUE);
    auto release = [](wxWindow* grabbed, wxWindow* over, wxEventType type) {
        // The grabbing window gets the event; the point may lie over another.
        const wxPoint screen = over->GetScreenRect().GetPosition() + wxPoint(20, 40);
        wxMouseEvent event(type);
        event.SetPosition(grabbed->ScreenToClient(screen));
        event.SetEventObject(grabbed);
        grabbed->GetEventHandler()->ProcessEvent(event);
    };

    g_dirList.m_bDragging = 1;
    release(dirList, dirList, wxEVT_LEFT_UP);
    EXPECT_EQ(g_dirList.m_bDragging, 0);

    // Over the queue the drag ends by adding what the directory list holds.
    g_dirList.m_bDragging = 1;
    release(dirList, queue, wxEVT_LEFT_UP);
    EXPECT_EQ(g_dirList.m_bDragging, 0);

    g_dirList.m_bDragging = 1;
    release(dirList, queue, wxEVT_RIGHT_DOWN);
    EXPECT_EQ(g_dirList.m_bDragging, 0);
}

TEST_F(MainWindowTest, RestoringTheWindowBringsBackAnOpenEditor)
{
    TempDir dir;
    g_queue.AppendEntry("a.mp3", dir.Write("a.mp3", Mp3Bytes("A")));
    g_queue.SelectRow(0);
    dlg->OpenTagEditor();
    g_tagEditor.Hide();
    wxIconizeEvent restored(dlg->GetId(), false);
    restored.SetEventObject(dlg);
    dlg->GetEventHandler()->ProcessEvent(restored);
    EXPECT_TRUE(g_tagEditor.IsVisible());

    g_tagEditor.Close();
    dlg->GetEventHandler()->ProcessEvent(restored);
    EXPECT_FALSE(g_tagEditor.IsVisible());
}

TEST_F(MainWindowTest, TheTagEditorTakesInputWhileTheMainWindowRunsModally)
{
    TempDir dir;
    g_queue.AppendEntry("a.mp3", dir.Write("a.mp3", Mp3Bytes("A")));
    g_queue.SelectRow(0);
    // The window whose grab holds the input of win's group, if any.
    auto grabOver = [](wxWindow* win) {
        return gtk_window_group_get_current_grab(gtk_window_get_group(GTK_WINDOW(win->GetHandle())));
    };
    std::vector<GtkWidget*> grabs;
    wxTheApp->CallAfter([&] {
        dlg->OpenTagEditor();
        grabs = {grabOver(dlg), grabOver(g_tagEditor.GetWindow())};
        dlg->Close();
    });
    dlg->ShowModal();
    EXPECT_EQ(grabs, (std::vector<GtkWidget*>{dlg->GetHandle(), nullptr}));
}
