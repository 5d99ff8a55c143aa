// The location box and its drop-down folder tree.
#include "BrowserTestSupport.h"

#include "app/Display.h"
#include "app/Globals.h"
#include "app/Ids.h"
#include "browser/DirList.h"
#include "browser/LocationBox.h"
#include "browser/Locations.h"

#include <wx/textctrl.h>
#include <wx/utils.h>

namespace
{
// One item as a line: its depth, text, path, image and whether it is picked.
struct Line
{
    int depth;
    std::string text;
    std::string path;
    int image;
    bool operator==(const Line& o) const
    {
        return depth == o.depth && text == o.text && path == o.path && image == o.image;
    }
};

std::ostream& operator<<(std::ostream& out, const Line& l)
{
    return out << std::string(static_cast<size_t>(l.depth) * 2, ' ') << l.text << " [" << l.path
               << "] " << l.image;
}

class BrowserTreeTest : public BrowserTest
{
protected:
    CFolderTree* Tree() const { return g_locationBox.GetTree(); }
    CLocationBoxCtrl* Box() const { return g_locationBox.GetCtrl(); }

    // Every item, depth first, with the image it shows now.
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
            lines.push_back(Line{depth, record->text, record->path, Tree()->GetItemImage(item)});
            wxTreeItemIdValue cookie;
            Walk(Tree()->GetFirstChild(item, cookie), depth + 1, lines);
        }
    }
    // The fixed frame: Desktop, My Documents, My Computer and the drives.
    std::vector<Line> Frame() const
    {
        std::vector<Line> lines = {
            {0, "Desktop", folders.desktop, IMG_DESKTOP},
            {1, "My Documents", folders.documents, IMG_MYDOCUMENTS},
            {1, "My Computer", "My Computer", IMG_MYCOMPUTER},
        };
        for (const DriveEntry& drive : EnumerateDrives())
            lines.push_back(Line{2, drive.text, drive.root, drive.image});
        return lines;
    }
    wxTreeItemId Find(const std::string& path) const
    {
        return Tree()->FindByPath(Tree()->FirstTopLevelItem(), path);
    }
    std::string PickedText() const
    {
        const FolderItem* record = Tree()->Record(Tree()->m_picked);
        return record ? record->text : std::string();
    }
    std::string PathLine() const { return FromUser(g_hDirStatus->GetValue()); }

    // Unrolls the drop-down step by step, as the timer does.
    std::vector<int> Unroll() const
    {
        std::vector<int> heights;
        g_locationBox.OpenDropDown();
        while (heights.size() < 100)
        {
            g_locationBox.OnDropTimer();
            heights.push_back(g_locationBox.m_dropRect.height);
            if (g_locationBox.m_dropRect.height >= g_locationBox.m_dropHeight)
                break;
        }
        Flush();
        return heights;
    }
    void KeyOnBox(int code, bool alt = false) const
    {
        wxKeyEvent key(wxEVT_KEY_DOWN);
        key.m_keyCode = code;
        key.m_altDown = alt;
        key.SetEventObject(Box());
        Box()->GetEventHandler()->ProcessEvent(key);
    }
    void KeyInTree(int code) const
    {
        wxKeyEvent key(wxEVT_KEY_DOWN);
        key.m_keyCode = code;
        key.SetEventObject(Tree());
        Tree()->GetEventHandler()->ProcessEvent(key);
    }
    void MouseInTree(wxEventType type, const wxTreeItemId& item) const
    {
        wxRect rect;
        ASSERT_TRUE(Tree()->GetBoundingRect(item, rect));
        wxMouseEvent mouse(type);
        mouse.SetPosition(rect.GetPosition() + wxPoint(4, rect.height / 2));
        mouse.SetEventObject(Tree());
        Tree()->GetEventHandler()->ProcessEvent(mouse);
    }
};
} // namespace

TEST_F(BrowserTreeTest, AFreshTreeHoldsTheFrameWithMyComputerPicked)
{
    ASSERT_NE(Tree(), nullptr);
    EXPECT_EQ(Lines(), Frame());
    EXPECT_EQ(Tree()->m_picked, Tree()->m_myComputer);
    EXPECT_EQ(g_locationBox.FaceText(), "My Computer");
    EXPECT_EQ(g_locationBox.FaceImage(), IMG_MYCOMPUTER);
    EXPECT_EQ(Tree()->ItemCount(), static_cast<int>(Frame().size()));
    EXPECT_TRUE(Tree()->IsExpanded(Tree()->m_desktop));
    EXPECT_TRUE(Tree()->IsExpanded(Tree()->m_myComputer));
    EXPECT_FALSE(g_locationBox.IsDropDownShown());
    // The tree's own images, the same strip as the lists'.
    EXPECT_EQ(Tree()->GetImageList(), &Tree()->m_images);
    EXPECT_EQ(Tree()->m_images.GetImageCount(), IMG_COUNT);
    EXPECT_EQ(g_locationBox.m_dropWidth, Box()->GetClientSize().x);
    EXPECT_EQ(g_locationBox.m_dropHeight, 150);
    EXPECT_EQ(Tree()->GetParent()->GetParent(), dlg);
}

TEST_F(BrowserTreeTest, TheChainFollowsTheListAndGoesWithIt)
{
    const std::string rock = dir.Path() + "/Music/Rock";
    MakeDir(dir.Path() + "/Music");
    MakeDir(rock);
    g_dirList.m_location = rock;
    g_dirList.ShowLocation();
    g_dirList.SyncLocationBox();

    // Below the root drive, one item per folder of the path; the open
    // folders show the open image, the picked last one the closed image.
    std::vector<Line> expected = Frame();
    const size_t rootDrive = 3;
    ASSERT_EQ(expected[rootDrive].path, "/");
    std::vector<Line> chain;
    std::string path;
    int depth = 3;
    size_t start = 1;
    while (start < rock.size())
    {
        const size_t end = std::min(rock.find('/', start), rock.size());
        const std::string name = rock.substr(start, end - start);
        path += "/" + name;
        chain.push_back(Line{depth++, name, path, IMG_FOLDER_OPEN});
        start = end + 1;
    }
    chain.back().image = IMG_FOLDER;
    expected.insert(expected.begin() + rootDrive + 1, chain.begin(), chain.end());
    EXPECT_EQ(Lines(), expected);
    EXPECT_EQ(PickedText(), "Rock");
    EXPECT_EQ(g_locationBox.FaceText(), "Rock");
    EXPECT_EQ(g_locationBox.FaceImage(), IMG_FOLDER);

    // The same path again adds nothing; a sibling folder replaces the chain's
    // end after the list rebuilds the tree.
    g_locationBox.ShowPath(rock);
    EXPECT_EQ(Lines(), expected);
    g_dirList.GoUp();
    g_dirList.ShowLocation();
    g_dirList.SyncLocationBox();
    EXPECT_EQ(PickedText(), "Music");
    EXPECT_FALSE(Find(rock).IsOk());

    // Back at "My Computer": only the frame is left.
    g_dirList.m_location = "My Computer";
    g_dirList.ShowLocation();
    g_dirList.SyncLocationBox();
    EXPECT_EQ(Lines(), Frame());
    EXPECT_EQ(Tree()->m_picked, Tree()->m_myComputer);
    g_dirList.m_location = "Desktop";
    g_dirList.SyncLocationBox();
    EXPECT_EQ(Tree()->m_picked, Tree()->m_desktop);
    g_dirList.m_location = "My Document";
    g_dirList.SyncLocationBox();
    EXPECT_EQ(Tree()->m_picked, Tree()->m_myDocuments);
}

TEST_F(BrowserTreeTest, AFolderChainHangsBelowTheDeepestDriveThatHoldsIt)
{
    // A drive mounted inside another one's tree.
    const std::string stick = dir.Path() + "/STICK";
    Tree()->InsertNode(new FolderItem(IMG_REMOVABLE, IMG_REMOVABLE, "STICK (" + stick + ")", stick),
                       Tree()->m_myComputer);
    Tree()->InsertFolderPath(stick + "/Albums//Live/");
    const wxTreeItemId live = Find(stick + "/Albums/Live");
    ASSERT_TRUE(live.IsOk());
    EXPECT_EQ(Tree()->m_picked, live);
    const wxTreeItemId albums = Tree()->GetItemParent(live);
    EXPECT_EQ(Tree()->Record(albums)->path, stick + "/Albums");
    EXPECT_EQ(Tree()->Record(Tree()->GetItemParent(albums))->path, stick);
    // The drive itself: nothing new, the drive is picked.
    const int count = Tree()->ItemCount();
    Tree()->InsertFolderPath(stick);
    EXPECT_EQ(Tree()->ItemCount(), count);
    EXPECT_EQ(Tree()->Record(Tree()->m_picked)->path, stick);

    // A path under no drive at all stands at the top level, after Desktop.
    Tree()->InsertFolderPath("relative/x");
    const wxTreeItemId top = Tree()->GetNextSibling(Tree()->m_desktop);
    ASSERT_TRUE(top.IsOk());
    EXPECT_EQ(Tree()->Record(top)->path, "relative");
    EXPECT_EQ(Tree()->Record(Tree()->m_picked)->path, "relative/x");
}

TEST_F(BrowserTreeTest, TheDropDownUnrollsBelowTheBoxFifteenPixelsAtATime)
{
    const int items = Tree()->ItemCount();
    const std::vector<int> heights = Unroll();
    EXPECT_EQ(g_locationBox.m_dropHeight, 15 * items - 10);
    ASSERT_EQ(heights.size(), static_cast<size_t>(items));
    for (size_t i = 0; i < heights.size(); ++i)
        EXPECT_EQ(heights[i], 15 * static_cast<int>(i + 1));
    ASSERT_TRUE(g_locationBox.IsDropDownShown());
    const wxRect box = Box()->GetScreenRect();
    EXPECT_EQ(g_locationBox.GetDropDown()->GetScreenRect(),
              wxRect(box.x + 1, box.y + box.height + 1, g_locationBox.m_dropWidth - 3, 15 * items));
    // Every row is whole inside it.
    wxRect last;
    wxTreeItemId item = Tree()->m_myComputer;
    for (wxTreeItemId next = Tree()->NextVisible(item); next.IsOk(); next = Tree()->NextVisible(next))
        item = next;
    ASSERT_TRUE(Tree()->GetBoundingRect(item, last));
    EXPECT_LE(last.GetBottom(), Tree()->GetClientSize().y);

    // A click on the box closes it; nothing is picked.
    wxMouseEvent click(wxEVT_LEFT_DOWN);
    click.SetEventObject(Box());
    Box()->GetEventHandler()->ProcessEvent(click);
    EXPECT_FALSE(g_locationBox.IsDropDownShown());
    EXPECT_EQ(g_dirList.m_location, "My Computer");
    EXPECT_EQ(Tree()->m_picked, Tree()->m_myComputer);

    // The real timer does the same: 88, every 5 ms, until it is all out.
    Box()->GetEventHandler()->ProcessEvent(click);
    for (int i = 0; i < 400 && g_locationBox.m_dropRect.height < g_locationBox.m_dropHeight; ++i)
    {
        wxMilliSleep(5);
        Flush();
    }
    EXPECT_TRUE(g_locationBox.IsDropDownShown());
    EXPECT_EQ(g_locationBox.GetDropDown()->GetSize().y, 15 * items);
    KeyInTree(WXK_ESCAPE);
    EXPECT_FALSE(g_locationBox.IsDropDownShown());
}

TEST_F(BrowserTreeTest, PicksByMouseAndEnterReachTheListEscPicksNothing)
{
    MakeDir(folders.desktop + "/Music");
    Unroll();
    // Moving over an item moves the highlight only.
    MouseInTree(wxEVT_MOTION, Tree()->m_desktop);
    EXPECT_EQ(Tree()->GetSelection(), Tree()->m_desktop);
    EXPECT_EQ(Tree()->m_picked, Tree()->m_myComputer);
    EXPECT_EQ(g_locationBox.FaceText(), "My Computer");
    // Esc: closed, the list stays where it was.
    KeyInTree(WXK_ESCAPE);
    EXPECT_FALSE(g_locationBox.IsDropDownShown());
    EXPECT_EQ(g_dirList.m_location, "My Computer");

    // A click picks the item under the mouse: the desktop, as a plain folder.
    Unroll();
    MouseInTree(wxEVT_LEFT_DOWN, Tree()->m_desktop);
    EXPECT_FALSE(g_locationBox.IsDropDownShown());
    EXPECT_EQ(g_dirList.m_location, folders.desktop);
    EXPECT_EQ(PathLine(), "Path: " + folders.desktop + "/");
    EXPECT_EQ(g_dirList.RowCount(), 2u);   // the parent row and Music
    EXPECT_EQ(g_locationBox.FaceText(), "Desktop");
    EXPECT_EQ(wxWindow::FindFocus(), Box());

    // Enter picks the highlighted item: the root drive.
    Unroll();
    const wxTreeItemId root = Find("/");
    ASSERT_TRUE(root.IsOk());
    MouseInTree(wxEVT_MOTION, root);
    KeyInTree(WXK_RETURN);
    EXPECT_FALSE(g_locationBox.IsDropDownShown());
    EXPECT_EQ(g_dirList.m_location, "/");
    EXPECT_EQ(PathLine(), "Path: /");
    EXPECT_EQ(g_locationBox.FaceText(), "File System (/)");

    // My Computer gives the drive listing.
    Unroll();
    MouseInTree(wxEVT_LEFT_DOWN, Tree()->m_myComputer);
    EXPECT_EQ(g_dirList.m_location, "My Computer");
    EXPECT_EQ(g_dirList.Row(1).name, "My Document");
}

TEST_F(BrowserTreeTest, ArrowKeysOnTheClosedBoxWalkTheTree)
{
    // Down from My Computer: the first drive, and the list follows.
    KeyOnBox(WXK_DOWN);
    EXPECT_EQ(PickedText(), "File System (/)");
    EXPECT_EQ(g_dirList.m_location, "/");
    EXPECT_FALSE(g_locationBox.IsDropDownShown());
    // Past the last visible item nothing changes.
    const std::vector<DriveEntry> drives = EnumerateDrives();
    for (size_t i = 1; i < drives.size(); ++i)
        KeyOnBox(WXK_RIGHT);
    EXPECT_EQ(g_dirList.m_location, drives.back().root);
    EXPECT_EQ(Tree()->Step(true), 0);
    KeyOnBox(WXK_DOWN);
    EXPECT_EQ(g_dirList.m_location, drives.back().root);

    // Up walks back to Desktop and no further.
    for (size_t i = 1; i < drives.size(); ++i)
        KeyOnBox(WXK_LEFT);
    KeyOnBox(WXK_UP);
    EXPECT_EQ(g_dirList.m_location, "My Computer");
    EXPECT_EQ(g_dirList.Row(1).name, "My Document");
    KeyOnBox(WXK_UP);
    EXPECT_EQ(g_dirList.m_location, folders.documents);
    KeyOnBox(WXK_UP);
    EXPECT_EQ(g_dirList.m_location, folders.desktop);
    EXPECT_EQ(PickedText(), "Desktop");
    KeyOnBox(WXK_UP);
    EXPECT_EQ(PickedText(), "Desktop");
    EXPECT_EQ(Tree()->Step(false), 0);

    // Items inside a collapsed one are passed over.
    Tree()->Collapse(Tree()->m_desktop);
    EXPECT_EQ(Tree()->GetItemImage(Tree()->m_desktop), IMG_DESKTOP);
    EXPECT_EQ(Tree()->Step(true), 0);

    // Alt+Down starts opening the drop-down instead.
    g_locationBox.m_dropHeight = 0;
    KeyOnBox(WXK_DOWN, true);
    EXPECT_EQ(PickedText(), "Desktop");
    EXPECT_EQ(g_locationBox.m_dropHeight, 15 * Tree()->ItemCount() - 10);
    g_locationBox.CloseDropDown();
}
