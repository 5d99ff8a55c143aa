// SPDX-License-Identifier: GPL-3.0-or-later
// The location box and its drop-down folder tree.
#include "BrowserTestSupport.h"

#include "app/HelpDlg.h"
#include "app/Ids.h"

#include <wx/display.h>
#include <wx/uiaction.h>
#include <wx/utils.h>

#include <tuple>

namespace
{
// One item: depth, text, path and the image it shows now.
using Line = std::tuple<int, std::string, std::string, int>;

class BrowserTreeTest : public BrowserTest
{
protected:
    CFolderTree* Tree() const { return g_locationBox.GetTree(); }
    CLocationBoxCtrl* Box() const { return g_locationBox.GetCtrl(); }

    // Every item, depth first.
    std::vector<Line> Lines() const
    {
        std::vector<Line> lines;
        Walk(Tree()->FirstTopLevelItem(), 0, lines);
        return lines;
    }
    void Walk(wxTreeItemId item, int depth, std::vector<Line>& lines) const
    {
        for (; item.IsOk(); item = Tree()->GetNextSibling(item))
        {
            const FolderItem* record = Tree()->Record(item);
            lines.emplace_back(depth, record->text, record->path, Tree()->GetItemImage(item));
            wxTreeItemIdValue cookie;
            Walk(Tree()->GetFirstChild(item, cookie), depth + 1, lines);
        }
    }
    // Desktop, My Documents, My Computer and the drives.
    std::vector<Line> Frame() const
    {
        std::vector<Line> lines{{0, "Desktop", folders.desktop, IMG_DESKTOP},
                                {1, "My Documents", folders.documents, IMG_MYDOCUMENTS},
                                {1, "My Computer", "My Computer", IMG_MYCOMPUTER}};
        for (const DriveEntry& drive : EnumerateDrives())
            lines.emplace_back(2, drive.text, drive.root, drive.image);
        return lines;
    }
    wxTreeItemId Find(const std::string& path) const
    {
        return Tree()->FindByPath(Tree()->FirstTopLevelItem(), path);
    }
    std::string PickedPath() const
    {
        const FolderItem* record = Tree()->Record(Tree()->m_picked);
        return record ? record->path : "";
    }

    // Unrolls the drop-down step by step, as the timer does.
    std::vector<int> Unroll() const
    {
        std::vector<int> heights;
        g_locationBox.OpenDropDown();
        do
        {
            g_locationBox.OnDropTimer();
            heights.push_back(g_locationBox.m_dropRect.height);
        } while (heights.size() < 100 && g_locationBox.m_dropRect.height < g_locationBox.m_dropHeight);
        Flush();
        return heights;
    }
    void MouseInTree(wxEventType type, const wxTreeItemId& item) const
    {
        wxRect rect;
        ASSERT_TRUE(Tree()->GetBoundingRect(item, rect));
        wxMouseEvent mouse(type);
        mouse.SetPosition(rect.GetPosition() + wxPoint(4, rect.height / 2));
        Send(Tree(), mouse);
    }
};
} // namespace

TEST_F(BrowserTreeTest, TheTreeHoldsTheFrameAndTheChainsOfFolders)
{
    ASSERT_NE(Tree(), nullptr);
    EXPECT_EQ(Lines(), Frame());
    EXPECT_EQ(Tree()->ItemCount(), static_cast<int>(Frame().size()));
    EXPECT_EQ(g_locationBox.FaceText(), "My Computer");
    EXPECT_EQ(g_locationBox.FaceImage(), IMG_MYCOMPUTER);
    EXPECT_EQ(Tree()->m_images.GetImageCount(), IMG_COUNT);

    // Below the root drive, one item per folder of the path; the open
    // folders show the open image, the picked last one the closed image.
    const std::string rock = dir.Path() + "/Music/Rock";
    MakeDir(dir.Path() + "/Music");
    MakeDir(rock);
    Show(rock);
    const std::string temp = dir.Path();
    ASSERT_EQ(temp.rfind("/tmp/", 0), 0u);
    std::vector<Line> expected = Frame();
    ASSERT_EQ(std::get<2>(expected[3]), "/");
    expected.insert(expected.begin() + 4, {{3, "tmp", "/tmp", IMG_FOLDER_OPEN},
                                           {4, temp.substr(5), temp, IMG_FOLDER_OPEN},
                                           {5, "Music", temp + "/Music", IMG_FOLDER_OPEN},
                                           {6, "Rock", rock, IMG_FOLDER}});
    EXPECT_EQ(Lines(), expected);
    EXPECT_EQ(PickedPath(), rock);
    EXPECT_EQ(g_locationBox.FaceText(), "Rock");
    EXPECT_EQ(g_locationBox.FaceImage(), IMG_FOLDER);

    // The same path again adds nothing; going up drops the chain's end.
    g_locationBox.ShowPath(rock);
    EXPECT_EQ(Lines(), expected);
    Show(ParentLocation(rock));
    EXPECT_EQ(g_locationBox.FaceText(), "Music");
    EXPECT_FALSE(Find(rock).IsOk());

    // The keys leave only the frame and pick their own item.
    for (const auto& key : {std::make_pair("My Computer", "My Computer"),
                            std::make_pair("Desktop", "Desktop"), std::make_pair("My Document", "My Documents")})
    {
        Show(key.first);
        EXPECT_EQ(Lines(), Frame()) << key.first;
        EXPECT_EQ(g_locationBox.FaceText(), key.second);
    }

    // A chain hangs below the deepest drive that holds it.
    const std::string stick = dir.Path() + "/STICK";
    const wxTreeItemId drive = Tree()->InsertNode(
        new FolderItem(IMG_REMOVABLE, IMG_REMOVABLE, "STICK (" + stick + ")", stick), Tree()->m_myComputer);
    Tree()->InsertFolderPath(stick + "/Albums//Live/");
    const wxTreeItemId live = Find(stick + "/Albums/Live");
    ASSERT_TRUE(live.IsOk());
    EXPECT_EQ(Tree()->m_picked, live);
    const wxTreeItemId albums = Tree()->GetItemParent(live);
    EXPECT_EQ(Tree()->Record(albums)->path, stick + "/Albums");
    EXPECT_EQ(Tree()->GetItemParent(albums), drive);
    // The drive itself: nothing new, the drive is picked.
    const int count = Tree()->ItemCount();
    Tree()->InsertFolderPath(stick);
    EXPECT_EQ(Tree()->ItemCount(), count);
    EXPECT_EQ(PickedPath(), stick);

    // A path under no drive stands at the top level, after Desktop.
    Tree()->InsertFolderPath("relative/x");
    const wxTreeItemId top = Tree()->GetNextSibling(Tree()->m_desktop);
    ASSERT_TRUE(top.IsOk());
    EXPECT_EQ(Tree()->Record(top)->path, "relative");
    EXPECT_EQ(PickedPath(), "relative/x");
}

TEST_F(BrowserTreeTest, TheDropDownUnrollsBelowTheBoxARowAtATime)
{
    // Rows are as tall as the text with its descenders (an underscore is
    // not cut off), and the drop-down grows by a row and a pixel per step.
    int width = 0, height = 0;
    Tree()->GetTextExtent("my_music_folder", &width, &height);
    EXPECT_GE(Tree()->RowHeight(), height);
    const int step = g_locationBox.DropStep();
    EXPECT_EQ(step, Tree()->RowHeight() + 1);
    const int items = Tree()->ItemCount();
    const std::vector<int> heights = Unroll();
    EXPECT_EQ(g_locationBox.m_dropHeight, step * items - 10);
    ASSERT_EQ(heights.size(), static_cast<size_t>(items));
    for (size_t i = 0; i < heights.size(); ++i)
        EXPECT_EQ(heights[i], step * static_cast<int>(i + 1));
    ASSERT_TRUE(g_locationBox.IsDropDownShown());
    const wxRect box = Box()->GetScreenRect();
    EXPECT_EQ(g_locationBox.GetDropDown()->GetScreenRect(),
              wxRect(box.x + 1, box.y + box.height + 1, box.width - 3, step * items));
    const auto lastRowIsWhole = [this] {
        wxTreeItemId last = Tree()->m_myComputer;
        while (Tree()->NextVisible(last).IsOk())
            last = Tree()->NextVisible(last);
        wxRect rect;
        ASSERT_TRUE(Tree()->GetBoundingRect(last, rect));
        EXPECT_LE(rect.GetBottom(), Tree()->GetClientSize().y);
    };
    lastRowIsWhole();
    EXPECT_FALSE(Tree()->IsScrollbarShown(wxHORIZONTAL));

    // A click on the box closes it; nothing is picked.
    wxMouseEvent click(wxEVT_LEFT_DOWN);
    Send(Box(), click);
    EXPECT_FALSE(g_locationBox.IsDropDownShown());
    EXPECT_EQ(g_locationBox.FaceText(), "My Computer");

    // Another click: the real timer unrolls it all; Esc closes it.
    Send(Box(), click);
    for (int i = 0; i < 400 && g_locationBox.m_dropRect.height < g_locationBox.m_dropHeight; ++i)
    {
        wxMilliSleep(5);
        Flush();
    }
    // Then it stops.
    wxMilliSleep(30);
    Flush();
    EXPECT_TRUE(g_locationBox.IsDropDownShown());
    EXPECT_EQ(g_locationBox.GetDropDown()->GetSize().y, step * items);
    Key(Tree(), WXK_ESCAPE);
    EXPECT_FALSE(g_locationBox.IsDropDownShown());

    // A label wider than the drop-down: a horizontal scroll bar that reaches
    // it, and room for the bar below the last row.
    const std::string deep = dir.Path() + "/a_folder_with_a_name_much_wider_than_the_box";
    MakeDir(deep);
    Show(deep);
    Unroll();
    EXPECT_TRUE(Tree()->IsScrollbarShown(wxHORIZONTAL));
    EXPECT_GT(Tree()->GetScrollRange(wxHORIZONTAL), Tree()->GetScrollThumb(wxHORIZONTAL));
    lastRowIsWhole();
    g_locationBox.CloseDropDown();
}

TEST_F(BrowserTreeTest, ADeepTreeEndsAtTheWorkAreaAndScrollsBothWays)
{
    // Twenty-five nested folders, and the box in the lower half of the screen.
    std::string deepest = dir.Path();
    for (int level = 1; level <= 25; ++level)
    {
        deepest += "/folder " + std::to_string(level);
        MakeDir(deepest);
    }
    const wxRect work = wxDisplay(dlg).GetClientArea();
    dlg->Move(work.x, work.y + work.height / 2);
    Flush();
    Show(deepest);
    const int step = g_locationBox.DropStep();
    const std::vector<int> heights = Unroll();
    const wxRect drop = g_locationBox.GetDropDown()->GetScreenRect();
    const int room = work.GetBottom() + 1 - drop.y;
    ASSERT_LT(room, step * Tree()->ItemCount());
    // A row at a time, up to the bottom of the work area.
    ASSERT_GE(heights.size(), 2u);
    for (size_t i = 0; i + 1 < heights.size(); ++i)
        EXPECT_EQ(heights[i], step * static_cast<int>(i + 1));
    EXPECT_EQ(heights.back(), room);
    EXPECT_EQ(drop.GetBottom(), work.GetBottom());
    EXPECT_TRUE(Tree()->IsScrollbarShown(wxVERTICAL));
    EXPECT_TRUE(Tree()->IsScrollbarShown(wxHORIZONTAL));

    const auto inView = [this](const wxTreeItemId& item) {
        wxRect label;
        return Tree()->GetBoundingRect(item, label, true) && wxRect(Tree()->GetClientSize()).Contains(label);
    };
    const wxTreeItemId last = Find(deepest);
    EXPECT_TRUE(inView(last)) << "the highlighted item, where the keys start";
    // The highlight following the mouse does not scroll.
    int x = 0, y = 0;
    Tree()->GetViewStart(&x, &y);
    MouseInTree(wxEVT_MOTION, Tree()->GetItemParent(last));
    EXPECT_EQ(Tree()->GetViewStart(), wxPoint(x, y));

    // The keys: the view follows the highlight to the top and every level down.
    const auto press = [this](int code) {
        wxKeyEvent key(wxEVT_CHAR);
        key.m_keyCode = code;
        Send(Tree(), key);
    };
    press(WXK_HOME);
    EXPECT_EQ(Tree()->GetSelection(), Tree()->m_desktop);
    EXPECT_TRUE(inView(Tree()->m_desktop));
    for (int i = 0; i < Tree()->ItemCount() && Tree()->GetSelection() != last; ++i)
    {
        press(WXK_DOWN);
        EXPECT_TRUE(inView(Tree()->GetSelection())) << Tree()->GetItemText(Tree()->GetSelection());
    }
    EXPECT_EQ(Tree()->GetSelection(), last);

    // The scroll bars, each at its start and its end.
    const auto scroll = [this](wxEventType type, int orientation) {
        wxScrollWinEvent event(type, 0, orientation);
        Send(Tree(), event);
    };
    scroll(wxEVT_SCROLLWIN_TOP, wxVERTICAL);
    scroll(wxEVT_SCROLLWIN_TOP, wxHORIZONTAL);
    EXPECT_TRUE(inView(Tree()->m_desktop));
    scroll(wxEVT_SCROLLWIN_BOTTOM, wxVERTICAL);
    scroll(wxEVT_SCROLLWIN_BOTTOM, wxHORIZONTAL);
    EXPECT_TRUE(inView(last));
    g_locationBox.CloseDropDown();
}

TEST_F(BrowserTreeTest, PicksByMouseEnterAndArrowKeysReachTheList)
{
    MakeDir(folders.desktop + "/Music");
    g_dirList.SelectRow(1);
    Unroll();
    // Moving over an item moves the highlight only; Esc picks nothing, so
    // the list is not even listed again.
    MouseInTree(wxEVT_MOTION, Tree()->m_desktop);
    EXPECT_EQ(Tree()->GetSelection(), Tree()->m_desktop);
    EXPECT_EQ(g_locationBox.FaceText(), "My Computer");
    Key(Tree(), WXK_ESCAPE);
    EXPECT_FALSE(g_locationBox.IsDropDownShown());
    EXPECT_TRUE(g_dirList.IsSelected(1));

    // A click picks the item under the mouse: the desktop, as a plain folder.
    Unroll();
    MouseInTree(wxEVT_LEFT_DOWN, Tree()->m_desktop);
    EXPECT_FALSE(g_locationBox.IsDropDownShown());
    EXPECT_EQ(g_dirList.m_location, folders.desktop);
    EXPECT_EQ(PathLine(), "Path: " + folders.desktop + "/");
    EXPECT_EQ(g_dirList.RowCount(), 2u);   // the parent row and Music
    EXPECT_EQ(g_locationBox.FaceText(), "Desktop");
    EXPECT_EQ(wxWindow::FindFocus(), Box());

    // Enter picks the highlighted item.
    Unroll();
    ASSERT_TRUE(Find("/").IsOk());
    MouseInTree(wxEVT_MOTION, Find("/"));
    Key(Tree(), WXK_RETURN);
    EXPECT_FALSE(g_locationBox.IsDropDownShown());
    EXPECT_EQ(g_dirList.m_location, "/");
    EXPECT_EQ(PathLine(), "Path: /");
    EXPECT_EQ(g_locationBox.FaceText(), "File System (/)");

    Unroll();
    MouseInTree(wxEVT_LEFT_DOWN, Tree()->m_myComputer);
    EXPECT_EQ(g_dirList.m_location, "My Computer");
    EXPECT_EQ(g_dirList.Row(1).name, "My Document");

    // Arrow keys on the closed box, with Shift or Ctrl too: Down and Right
    // step forward, Up and Left back; the list follows.
    const std::vector<DriveEntry> drives = EnumerateDrives();
    Key(Box(), WXK_DOWN, false, false, true);
    EXPECT_EQ(g_locationBox.FaceText(), "File System (/)");
    EXPECT_EQ(g_dirList.m_location, "/");
    Key(Box(), WXK_LEFT, true);
    EXPECT_EQ(g_dirList.m_location, "My Computer");
    Key(Box(), WXK_RIGHT);
    EXPECT_EQ(g_dirList.m_location, "/");
    for (size_t i = 1; i < drives.size(); ++i)
        Key(Box(), WXK_RIGHT);
    EXPECT_EQ(g_dirList.m_location, drives.back().root);
    // Past the last item nothing changes.
    Key(Box(), WXK_DOWN);
    EXPECT_EQ(g_dirList.m_location, drives.back().root);

    for (size_t i = 1; i < drives.size(); ++i)
        Key(Box(), WXK_LEFT);
    // Up to Desktop and no further.
    for (const std::string& location : {std::string("My Computer"), folders.documents, folders.desktop,
                                        folders.desktop})
    {
        Key(Box(), WXK_UP);
        EXPECT_EQ(g_dirList.m_location, location);
    }
    EXPECT_EQ(g_locationBox.FaceText(), "Desktop");

    // Items inside a collapsed one are passed over.
    Tree()->Collapse(Tree()->m_desktop);
    EXPECT_EQ(Tree()->GetItemImage(Tree()->m_desktop), IMG_DESKTOP);
    EXPECT_EQ(Tree()->Step(true), 0);

    // Alt+Down opens the drop-down instead.
    g_locationBox.m_dropHeight = 0;
    Key(Box(), WXK_DOWN, false, true);
    EXPECT_EQ(g_locationBox.FaceText(), "Desktop");
    EXPECT_EQ(g_locationBox.m_dropHeight, g_locationBox.DropStep() * Tree()->ItemCount() - 10);
    g_locationBox.CloseDropDown();
}

TEST_F(BrowserTreeTest, TheClickThatClosesTheDropDownGoesOnToItsTarget)
{
    wxUIActionSimulator mouse;
    const auto clickAt = [&mouse](const wxPoint& at) {
        // Down and up apart, as a hand clicks.
        mouse.MouseMove(at);
        Flush();
        mouse.MouseDown();
        Flush();
        wxMilliSleep(50);
        Flush();
        mouse.MouseUp();
        Flush();
    };
    const auto open = [&] {
        clickAt(Box()->GetScreenRect().GetLeftTop() + wxPoint(20, 5));
        for (int i = 0; i < 100 && g_locationBox.m_dropRect.height < g_locationBox.m_dropHeight; ++i)
        {
            wxMilliSleep(5);
            Flush();
        }
        ASSERT_TRUE(g_locationBox.IsDropDownShown());
    };

    // A button: the drop-down closes, nothing is picked, and Help opens.
    open();
    clickAt(dlg->FindWindow(IDC_HELPBUTTON)->GetScreenRect().GetPosition() + wxPoint(10, 5));
    EXPECT_FALSE(g_locationBox.IsDropDownShown());
    EXPECT_EQ(g_locationBox.FaceText(), "My Computer");
    EXPECT_TRUE(g_helpDlg.IsVisible());
    g_helpDlg.Hide();

    // A row of the directory list: it is selected.
    open();
    wxRect row;
    ASSERT_TRUE(g_dirList.GetCtrl()->GetItemRect(1, row));
    clickAt(g_dirList.GetCtrl()->ClientToScreen(row.GetPosition() + wxPoint(30, 4)));
    EXPECT_FALSE(g_locationBox.IsDropDownShown());
    EXPECT_TRUE(g_dirList.IsSelected(1));

    // The box itself: it closes and stays closed.
    open();
    clickAt(Box()->GetScreenRect().GetLeftTop() + wxPoint(20, 5));
    EXPECT_FALSE(g_locationBox.IsDropDownShown());
}
