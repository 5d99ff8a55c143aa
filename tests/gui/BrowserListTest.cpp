// SPDX-License-Identifier: GPL-3.0-or-later
// The directory list over real temporary folder trees.
#include "BrowserTestSupport.h"

#include "app/Ids.h"
#include "queue/QueueList.h"

#include <wx/menu.h>
#include <wx/uiaction.h>

#include <algorithm>
#include <dirent.h>
#include <unistd.h>

namespace
{
using Names = std::vector<std::string>;

// The wanted names in the order the file system gives them, which the list
// keeps within its folders and within its files.
Names InFolderOrder(const std::string& folder, const Names& wanted)
{
    Names names;
    DIR* d = opendir(folder.c_str());
    while (const dirent* e = d ? readdir(d) : nullptr)
        if (std::find(wanted.begin(), wanted.end(), e->d_name) != wanted.end())
            names.push_back(e->d_name);
    if (d)
        closedir(d);
    return names;
}

Names Join(Names a, const Names& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

class BrowserListTest : public BrowserTest
{
protected:
    CDirListCtrl* List() const { return g_dirList.GetCtrl(); }
    wxWindow* Rows() const { return List()->GetRowsWindow(); }

    Names Listed(bool selectedOnly = false) const
    {
        Names names;
        for (size_t i = 0; i < g_dirList.RowCount(); ++i)
            if (!selectedOnly || g_dirList.IsSelected(static_cast<long>(i)))
                names.push_back(g_dirList.Row(i).name);
        return names;
    }
    long RowNamed(const std::string& name) const
    {
        const Names names = Listed();
        const auto it = std::find(names.begin(), names.end(), name);
        return it == names.end() ? -1 : static_cast<long>(it - names.begin());
    }
    Names QueueNames() const
    {
        Names names;
        for (int i = 0; i < g_queue.GetCount(); ++i)
            names.push_back(g_queue.GetName(i));
        return names;
    }

    void SelectOnly(std::initializer_list<long> rows) const
    {
        for (size_t i = 0; i < g_dirList.RowCount(); ++i)
            g_dirList.SelectRow(static_cast<long>(i), false);
        for (long row : rows)
            g_dirList.SelectRow(row);
    }
    // Wherever it lands: the first selected row counts.
    void DoubleClick() const
    {
        wxMouseEvent click(wxEVT_LEFT_DCLICK);
        click.SetPosition(wxPoint(5, 5));
        Send(Rows(), click);
    }
    void Open(const std::string& name) const
    {
        const long row = RowNamed(name);
        ASSERT_GE(row, 0) << name;
        SelectOnly({row});
        DoubleClick();
    }
    void Command(int commandId) const
    {
        wxCommandEvent menu(wxEVT_MENU, MenuItemId(commandId));
        Send(List(), menu);
    }
};
} // namespace

TEST_F(BrowserListTest, FoldersComeFirstThenMp3FilesAndNothingElse)
{
    const std::string music = dir.Path() + "/music";
    MakeDir(music);
    for (const char* folder : {"Beta", "alpha", ".hidden", "fake.mp3"})
        MakeDir(music + "/" + folder);
    ASSERT_EQ(symlink("alpha", (music + "/linked").c_str()), 0);
    ASSERT_EQ(symlink("nowhere.mp3", (music + "/gone.mp3").c_str()), 0);
    for (const char* file : {"song.mp3", "LOUD.MP3", "a.Mp3", "x.mp3.txt", ".secret.mp3", "notes.txt",
                             "mp3", ".mp3", "caf\xE9.mp3", "Beta/notes.txt"})
        dir.Write(std::string("music/") + file, Mp3Bytes("T"));

    Show(music);
    const Names subfolders = InFolderOrder(music, {"Beta", "alpha", "fake.mp3", "linked"});
    const Names files = InFolderOrder(music, {"song.mp3", "LOUD.MP3", "a.Mp3", "gone.mp3", "caf\xE9.mp3"});
    const Names expected = Join(Join({"Parent Directory"}, subfolders), files);
    ASSERT_EQ(Listed(), expected);
    ASSERT_EQ(List()->GetItemCount(), static_cast<int>(expected.size()));
    EXPECT_EQ(PathLine(), "Path: " + music + "/");
    // What the list shows: name, type and path as display text, and the image.
    for (size_t i = 0; i < expected.size(); ++i)
    {
        const long row = static_cast<long>(i);
        const bool folder = i > 0 && i <= subfolders.size();
        const std::string path = i == 0 ? "" : music + "/" + expected[i];
        EXPECT_EQ(List()->GetItemText(row, 0), ToDisplay(expected[i]));
        EXPECT_EQ(List()->GetItemText(row, 1), i == 0 ? "" : folder ? "Folder" : "Mp3") << expected[i];
        EXPECT_EQ(List()->GetItemText(row, 2), ToDisplay(path));
        EXPECT_EQ(List()->OnGetItemImage(row), i == 0 ? IMG_PARENT : folder ? IMG_FOLDER : IMG_MP3);
    }

    // Folders that are empty, hold no MP3 file, are gone or are no folder:
    // the parent row only, which still leads back.
    for (const char* name : {"alpha", "Beta", "vanished", "a.Mp3"})
    {
        Show(music + "/" + name);
        EXPECT_EQ(Listed(), Names{"Parent Directory"}) << name;
        EXPECT_EQ(PathLine(), "Path: " + music + "/" + name + "/");
    }
    Open("Parent Directory");
    EXPECT_EQ(g_dirList.m_location, music);

    // An unreadable desktop keeps its two ways out, since going up stays there.
    g_dirList.m_location = "Desktop";
    g_dirList.ListFolder(music + "/vanished");
    EXPECT_EQ(Listed(), (Names{"Parent Directory", "My Document", "My Computer"}));
    EXPECT_EQ(List()->OnGetItemImage(1), IMG_MYDOCUMENTS);
    EXPECT_EQ(List()->OnGetItemImage(2), IMG_MYCOMPUTER);
    Show("My Computer");
    EXPECT_EQ(List()->OnGetItemImage(2), EnumerateDrives().at(0).image);
}

TEST_F(BrowserListTest, DoubleClicksWalkDownUpAndThroughTheKeyRows)
{
    const std::string d = dir.Path();
    for (const std::string& folder :
         {d + "/a", d + "/a/b", folders.desktop + "/Music", folders.documents + "/Notes"})
        MakeDir(folder);
    Names drives{"Parent Directory", "My Document"};
    for (const DriveEntry& drive : EnumerateDrives())
        drives.push_back(drive.text);
    const Names desktop{"Parent Directory", "My Document", "My Computer", "Music"};

    const auto walk = [this](const std::string& open, const std::string& location,
                             const std::string& pathLine, const std::string& face, const Names& listed) {
        Open(open);
        ASSERT_EQ(g_dirList.m_location, location) << "opening " << open;
        EXPECT_EQ(PathLine(), pathLine);
        EXPECT_EQ(g_locationBox.FaceText(), face);
        if (!listed.empty())
        {
            EXPECT_EQ(Listed(), listed);
        }
    };
    Show(d);
    walk("a", d + "/a", "Path: " + d + "/a/", "a", {"Parent Directory", "b"});
    // Up with more than one row selected: the first one counts.
    while (g_dirList.m_location != "/")
    {
        const std::string before = g_dirList.m_location;
        SelectOnly({0, static_cast<long>(g_dirList.RowCount()) - 1});
        DoubleClick();
        ASSERT_EQ(g_dirList.m_location, ParentLocation(before));
    }
    EXPECT_EQ(PathLine(), "Path: /");
    ASSERT_GT(RowNamed("tmp"), 0);
    EXPECT_EQ(g_dirList.Row(static_cast<size_t>(RowNamed("tmp"))).path, "/tmp");
    walk("Parent Directory", "My Computer", "Path: My Computer", "My Computer", drives);
    walk("Parent Directory", "Desktop", "Path: Desktop", "Desktop", desktop);
    EXPECT_EQ(g_dirList.Row(3).path, folders.desktop + "/Music");
    walk("Parent Directory", "Desktop", "Path: Desktop", "Desktop", desktop);
    walk("My Computer", "My Computer", "Path: My Computer", "My Computer", drives);
    walk("File System (/)", "/", "Path: /", "File System (/)", {});
    walk("Parent Directory", "My Computer", "Path: My Computer", "My Computer", drives);
    walk("My Document", "My Document", "Path: My Document", "My Documents", {"Parent Directory", "Notes"});
    walk("Parent Directory", d, "Path: " + d + "/", d.substr(d.rfind('/') + 1), {});

    SelectOnly({});
    DoubleClick();
    EXPECT_EQ(g_dirList.m_location, d);
}

TEST_F(BrowserListTest, ContextMenuCtrlAAndDoubleClicksActOnTheRows)
{
    const int ids[] = {ID_DIRLIST_OPEN, ID_DIRLIST_REFLASH, ID_DIRLIST_ADDTOQUEUE, ID_DIRLIST_PARENT,
                       ID_DIRLIST_SELECTALL};
    const char* const texts[][2] = {
        {"Open", "Open the selected folder."},
        {"Reflash", "Reflash the list."},
        {"Add to queue", "Add the selected media files to the queue. If a folder is selected, the "
                         "software will search for the media files in it automatically."},
        {"Parent directory", "Go back to parent directory."},
        {"Select all Mp3 files", "Select all of the media files in the this list."}};
    ASSERT_NE(g_dirList.m_pPopup, nullptr);
    ASSERT_EQ(g_dirList.m_pPopup->GetMenuItemCount(), 5u);
    for (size_t i = 0; i < 5; ++i)
    {
        const wxMenuItem* item = g_dirList.m_pPopup->FindItemByPosition(i);
        EXPECT_EQ(item->GetId(), MenuItemId(ids[i]));
        EXPECT_EQ(item->GetItemLabelText(), texts[i][0]);
        EXPECT_EQ(item->GetHelp(), texts[i][1]);
    }

    const std::string d = dir.Path();
    MakeDir(d + "/album");
    for (const char* file : {"album/t1.mp3", "x.mp3", "y.mp3", "z.txt"})
        dir.Write(file, Mp3Bytes("T"));
    Show(d + "/album");
    g_locationBox.RebuildTree();
    dir.Write("album/t2.mp3", Mp3Bytes("2"));
    EXPECT_EQ(RowNamed("t2.mp3"), -1);
    Command(ID_DIRLIST_REFLASH);
    EXPECT_GT(RowNamed("t2.mp3"), 0);
    // Reflash leaves the location box alone; going up brings it along.
    EXPECT_EQ(g_locationBox.FaceText(), "My Computer");
    Command(ID_DIRLIST_PARENT);
    EXPECT_EQ(g_dirList.m_location, d);
    EXPECT_EQ(PathLine(), "Path: " + d + "/");
    EXPECT_EQ(g_locationBox.FaceText(), d.substr(d.rfind('/') + 1));
    const Names listed = Listed();
    const Names files = InFolderOrder(d, {"x.mp3", "y.mp3"});

    // A double click on a file queues it and leaves the list as it is.
    Open("x.mp3");
    EXPECT_EQ(QueueNames(), Names{"x.mp3"});
    EXPECT_EQ(g_queue.GetPath(0), d + "/x.mp3");
    EXPECT_EQ(Listed(), listed);
    EXPECT_EQ(Listed(true), Names{"x.mp3"});

    // Ctrl+A and the menu command add the MP3 rows to the selection; plain A
    // does not.
    SelectOnly({RowNamed("album")});
    Key(Rows(), 'A', true);
    EXPECT_EQ(Listed(true), Join({"album"}, files));
    SelectOnly({0});
    Key(Rows(), 'A');
    EXPECT_EQ(Listed(true), Names{"Parent Directory"});
    Command(ID_DIRLIST_SELECTALL);
    EXPECT_EQ(Listed(true), Join({"Parent Directory"}, files));

    // The folder is searched, the files come in list order, the parent row
    // is passed over.
    g_queue.SelectAll();
    g_queue.RemoveSelected();
    SelectOnly({0, RowNamed("y.mp3"), RowNamed("album"), RowNamed("x.mp3")});
    Command(ID_DIRLIST_ADDTOQUEUE);
    EXPECT_EQ(QueueNames(), Join(InFolderOrder(d + "/album", {"t1.mp3", "t2.mp3"}), files));
    EXPECT_EQ(Listed(), listed);
}

TEST_F(BrowserListTest, RightClickAfterAListingMenusTheRowUnderThePointer)
{
    dir.Write("x.mp3", Mp3Bytes("X"));
    Show(dir.Path());
    wxRect rect;
    ASSERT_TRUE(List()->GetItemRect(RowNamed("x.mp3"), rect));
    Names atOpen;
    EXPECT_EQ(RightClick(List(), rect.GetPosition() + wxPoint(30, rect.height / 2),
                         g_dirList.m_pPopup, [&] { atOpen = Listed(true); }),
              1);
    EXPECT_EQ(atOpen, Names{"x.mp3"});
    Command(ID_DIRLIST_ADDTOQUEUE);
    EXPECT_EQ(QueueNames(), Names{"x.mp3"});
}

TEST_F(BrowserListTest, DraggedRowsGoToTheQueueOnlyWhenReleasedOverIt)
{
    // Another row below the dragged one: a drag from the last row now and
    // then did not start here.
    dir.Write("drag.mp3", Mp3Bytes("D"));
    dir.Write("other.mp3", Mp3Bytes("O"));
    Show(dir.Path());
    const long row = RowNamed("drag.mp3");
    wxRect rect;
    ASSERT_TRUE(List()->GetItemRect(row, rect));
    ASSERT_NE(g_hDragCursor, nullptr);

    // The real mouse. Each drag starts at another point of the row, so that
    // two presses never make a double click.
    const auto drag = [&](int x, const wxPoint& end, std::initializer_list<long> selected) {
        SelectOnly(selected);
        const wxPoint start = List()->ClientToScreen(rect.GetPosition() + wxPoint(x, rect.height / 2));
        wxUIActionSimulator mouse;
        mouse.MouseMove(start);
        Flush();
        mouse.MouseDown();
        Flush();
        // A few small moves on the row start the drag.
        for (int step = 1; step <= 13; ++step)
        {
            mouse.MouseMove(step <= 3 ? start + wxPoint(2 * step, 0)
                                      : start + (end - start) * (step - 3) / 10);
            Flush();
            if (step == 8)
            {
                EXPECT_EQ(g_dirList.m_bDragging, 1);
                EXPECT_TRUE(Rows()->GetCursor().IsSameAs(*g_hDragCursor));
            }
        }
        mouse.MouseUp();
        Flush();
        EXPECT_EQ(g_dirList.m_bDragging, 0);
    };

    drag(20, List()->ClientToScreen(rect.GetPosition() + wxPoint(40, 80)), {row});
    EXPECT_FALSE(Rows()->GetCursor().IsOk());
    drag(60, g_locationBox.GetCtrl()->GetScreenRect().GetPosition() + wxPoint(5, 5), {row});
    EXPECT_EQ(g_queue.GetCount(), 0);
    // Several rows: all reach the queue, and the list keeps its selection,
    // also when the release is level with one of its rows.
    const long other = RowNamed("other.mp3");
    const wxRect queue = dlg->FindWindow(IDC_QUEUE)->GetScreenRect();
    const int level = List()->ClientToScreen(rect.GetPosition()).y + rect.height / 2;
    drag(100, wxPoint(queue.x + queue.width / 2, level), {row, other});
    EXPECT_EQ(QueueNames(), (Names{"drag.mp3", "other.mp3"}));
    EXPECT_TRUE(g_dirList.IsSelected(row));
    EXPECT_TRUE(g_dirList.IsSelected(other));
}

TEST_F(BrowserListTest, ACutDriveNameShowsWholeInATooltip)
{
    Show("My Computer");
    const long drive = 2;
    ASSERT_GT(g_dirList.RowCount(), static_cast<size_t>(drive));
    const wxString name = List()->GetItemText(drive);
    const auto tipOver = [&](long row) {
        wxRect rect;
        EXPECT_TRUE(List()->GetItemRect(row, rect));
        wxUIActionSimulator mouse;
        mouse.MouseMove(List()->ClientToScreen(rect.GetPosition() + wxPoint(20, rect.height / 2)));
        Flush();
        return Rows()->GetToolTipText();
    };
    EXPECT_EQ(tipOver(drive), wxString());
    List()->SetColumnWidth(0, 40);
    EXPECT_EQ(tipOver(drive), name);
    List()->SetColumnWidth(0, 400);
    EXPECT_EQ(tipOver(drive), wxString());
}
