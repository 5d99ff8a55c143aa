// The directory list over real temporary folder trees.
#include "BrowserTestSupport.h"

#include "app/Display.h"
#include "app/Globals.h"
#include "app/Ids.h"
#include "browser/DirList.h"
#include "browser/LocationBox.h"
#include "browser/Locations.h"
#include "queue/QueueList.h"

#include <wx/menu.h>
#include <wx/textctrl.h>
#include <wx/uiaction.h>

#include <algorithm>
#include <dirent.h>
#include <unistd.h>

namespace
{
class BrowserListTest : public BrowserTest
{
protected:
    wxListCtrl* List() const { return g_dirList.GetCtrl(); }
    wxWindow* Rows() const { return g_dirList.GetCtrl()->GetRowsWindow(); }

    std::vector<std::string> Names() const
    {
        std::vector<std::string> names;
        for (size_t i = 0; i < g_dirList.RowCount(); ++i)
            names.push_back(g_dirList.Row(i).name);
        return names;
    }
    long RowNamed(const std::string& name) const
    {
        const std::vector<std::string> names = Names();
        const auto it = std::find(names.begin(), names.end(), name);
        return it == names.end() ? -1 : static_cast<long>(it - names.begin());
    }
    std::string PathLine() const { return FromUser(g_hDirStatus->GetValue()); }

    void Show(const std::string& location) const
    {
        g_dirList.m_location = location;
        g_dirList.ShowLocation();
    }
    void SelectOnly(std::initializer_list<long> rows) const
    {
        for (size_t i = 0; i < g_dirList.RowCount(); ++i)
            g_dirList.SelectRow(static_cast<long>(i), false);
        for (long row : rows)
            g_dirList.SelectRow(row);
    }
    // A double click on the rows, wherever it lands.
    void DoubleClick() const
    {
        wxMouseEvent click(wxEVT_LEFT_DCLICK);
        click.SetPosition(wxPoint(5, 5));
        click.SetEventObject(Rows());
        Rows()->GetEventHandler()->ProcessEvent(click);
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
        menu.SetEventObject(List());
        List()->GetEventHandler()->ProcessEvent(menu);
    }
    void KeyDown(int code, bool control) const
    {
        wxKeyEvent key(wxEVT_KEY_DOWN);
        key.m_keyCode = code;
        key.m_controlDown = control;
        key.SetEventObject(Rows());
        Rows()->GetEventHandler()->ProcessEvent(key);
    }
    std::vector<std::string> QueueNames() const
    {
        std::vector<std::string> names;
        for (int i = 0; i < g_queue.GetCount(); ++i)
            names.push_back(g_queue.GetName(i));
        return names;
    }
};

// The names of a folder in the order the file system gives them.
std::vector<std::string> ReaddirOrder(const std::string& folder)
{
    std::vector<std::string> names;
    DIR* d = opendir(folder.c_str());
    while (const dirent* e = d ? readdir(d) : nullptr)
        names.push_back(e->d_name);
    if (d)
        closedir(d);
    return names;
}

// Keeps of order only the names in wanted.
std::vector<std::string> Only(const std::vector<std::string>& order, std::vector<std::string> wanted)
{
    std::vector<std::string> out;
    for (const std::string& name : order)
        if (std::find(wanted.begin(), wanted.end(), name) != wanted.end())
            out.push_back(name);
    return out;
}
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
                             "mp3", ".mp3", "caf\xE9.mp3"})
        dir.Write(std::string("music/") + file, Mp3Bytes("T"));

    Show(music);
    const std::vector<std::string> order = ReaddirOrder(music);
    const std::vector<std::string> subfolders = Only(order, {"Beta", "alpha", "fake.mp3", "linked"});
    const std::vector<std::string> files =
        Only(order, {"song.mp3", "LOUD.MP3", "a.Mp3", "gone.mp3", "caf\xE9.mp3"});
    std::vector<std::string> expected{"Parent Directory"};
    expected.insert(expected.end(), subfolders.begin(), subfolders.end());
    expected.insert(expected.end(), files.begin(), files.end());
    ASSERT_EQ(Names(), expected);
    EXPECT_EQ(List()->GetItemCount(), static_cast<int>(expected.size()));
    EXPECT_EQ(g_dirList.m_folder, music);
    EXPECT_EQ(PathLine(), "Path: " + music + "/");

    EXPECT_EQ(List()->GetItemText(0, 1), "");
    EXPECT_EQ(List()->GetItemText(0, 2), "");
    EXPECT_EQ(g_dirList.Row(0).image, IMG_PARENT);
    for (size_t i = 1; i < expected.size(); ++i)
    {
        const DirRow& row = g_dirList.Row(i);
        const bool folder = i <= subfolders.size();
        EXPECT_EQ(row.type, folder ? "Folder" : "Mp3") << row.name;
        EXPECT_EQ(row.image, folder ? IMG_FOLDER : IMG_MP3) << row.name;
        EXPECT_EQ(row.path, music + "/" + row.name);
        // What the list shows: every byte string as display text.
        EXPECT_EQ(List()->GetItemText(static_cast<long>(i), 0), ToDisplay(row.name));
        EXPECT_EQ(List()->GetItemText(static_cast<long>(i), 2), ToDisplay(row.path));
        wxListItem item;
        item.SetId(static_cast<long>(i));
        item.SetMask(wxLIST_MASK_IMAGE);
        ASSERT_TRUE(List()->GetItem(item));
        EXPECT_EQ(item.GetImage(), row.image);
    }
}

TEST_F(BrowserListTest, FoldersThatCannotBeListedShowTheParentRowOnly)
{
    MakeDir(dir.Path() + "/empty");
    MakeDir(dir.Path() + "/texts");
    dir.Write("texts/a.txt", "a");
    dir.Write("file.mp3", Mp3Bytes("T"));
    for (const std::string& folder : {dir.Path() + "/empty", dir.Path() + "/texts",
                                      dir.Path() + "/vanished", dir.Path() + "/file.mp3"})
    {
        Show(folder);
        EXPECT_EQ(Names(), std::vector<std::string>{"Parent Directory"}) << folder;
        EXPECT_EQ(PathLine(), "Path: " + folder + "/");
    }
    // The way back still works.
    Open("Parent Directory");
    EXPECT_EQ(g_dirList.m_location, dir.Path());
    EXPECT_GE(RowNamed("empty"), 0);

    // A desktop that cannot be read keeps its two ways out: going up from
    // it stays there.
    g_dirList.m_location = "Desktop";
    EXPECT_FALSE(g_dirList.ListFolder(dir.Path() + "/vanished"));
    EXPECT_EQ(Names(), (std::vector<std::string>{"Parent Directory", "My Document", "My Computer"}));
    EXPECT_TRUE(g_dirList.ListFolder(dir.Path() + "/empty"));
}

TEST_F(BrowserListTest, DoubleClicksWalkDownAndUpToTheDesktop)
{
    MakeDir(dir.Path() + "/a");
    MakeDir(dir.Path() + "/a/b");
    Show(dir.Path());
    Open("a");
    EXPECT_EQ(g_dirList.m_location, dir.Path() + "/a");
    Open("b");
    EXPECT_EQ(g_dirList.m_location, dir.Path() + "/a/b");
    EXPECT_EQ(PathLine(), "Path: " + dir.Path() + "/a/b/");
    EXPECT_EQ(g_locationBox.FaceText(), "b");

    // Up, whatever row the click lands on: the first selected row counts.
    while (g_dirList.m_location != "/")
    {
        const std::string before = g_dirList.m_location;
        SelectOnly({0, static_cast<long>(g_dirList.RowCount()) - 1});
        DoubleClick();
        ASSERT_EQ(g_dirList.m_location, ParentLocation(before));
    }
    EXPECT_EQ(PathLine(), "Path: /");
    Open("Parent Directory");
    EXPECT_EQ(g_dirList.m_location, "My Computer");
    EXPECT_EQ(PathLine(), "Path: My Computer");
    std::vector<std::string> drives{"Parent Directory", "My Document"};
    for (const DriveEntry& drive : EnumerateDrives())
        drives.push_back(drive.text);
    EXPECT_EQ(Names(), drives);
    EXPECT_EQ(g_dirList.Row(1).image, IMG_MYDOCUMENTS);
    EXPECT_EQ(g_dirList.Row(2).image, IMG_HARDDRIVE);
    EXPECT_EQ(g_locationBox.FaceText(), "My Computer");

    MakeDir(folders.desktop + "/Music");
    Open("Parent Directory");
    EXPECT_EQ(g_dirList.m_location, "Desktop");
    EXPECT_EQ(PathLine(), "Path: Desktop");
    EXPECT_EQ(Names(), (std::vector<std::string>{"Parent Directory", "My Document", "My Computer", "Music"}));
    EXPECT_EQ(g_dirList.Row(2).image, IMG_MYCOMPUTER);
    EXPECT_EQ(g_dirList.Row(3).path, folders.desktop + "/Music");
    EXPECT_EQ(g_locationBox.FaceText(), "Desktop");
    Open("Parent Directory");
    EXPECT_EQ(g_dirList.m_location, "Desktop");

    Open("Music");
    EXPECT_EQ(g_dirList.m_location, folders.desktop + "/Music");
    Show("Desktop");
    Open("My Computer");
    EXPECT_EQ(g_dirList.m_location, "My Computer");
    Open("File System (/)");
    EXPECT_EQ(g_dirList.m_location, "/");
    const long tmp = RowNamed("tmp");
    ASSERT_GT(tmp, 0);
    EXPECT_EQ(g_dirList.Row(static_cast<size_t>(tmp)).path, "/tmp");

    // The documents folder keeps its key; going up from it gives a path.
    MakeDir(folders.documents + "/Notes");
    Show("Desktop");
    Open("My Document");
    EXPECT_EQ(g_dirList.m_location, "My Document");
    EXPECT_EQ(PathLine(), "Path: My Document");
    EXPECT_EQ(Names(), (std::vector<std::string>{"Parent Directory", "Notes"}));
    EXPECT_EQ(g_locationBox.FaceText(), "My Documents");
    Open("Notes");
    EXPECT_EQ(g_dirList.m_location, folders.documents + "/Notes");
    Show("My Document");
    Open("Parent Directory");
    EXPECT_EQ(g_dirList.m_location, dir.Path());

    // Nothing selected: nothing happens.
    SelectOnly({});
    DoubleClick();
    EXPECT_EQ(g_dirList.m_location, dir.Path());
}

TEST_F(BrowserListTest, Mp3RowsGoToTheQueueByDoubleClickAndAddToQueue)
{
    MakeDir(dir.Path() + "/album");
    dir.Write("album/t1.mp3", Mp3Bytes("1"));
    dir.Write("album/t2.mp3", Mp3Bytes("2"));
    dir.Write("x.mp3", Mp3Bytes("X"));
    dir.Write("y.mp3", Mp3Bytes("Y"));
    Show(dir.Path());
    const std::vector<std::string> listed = Names();

    // A double click queues one file and leaves the list as it is; twice
    // still queues it once.
    Open("x.mp3");
    Open("x.mp3");
    EXPECT_EQ(QueueNames(), std::vector<std::string>{"x.mp3"});
    EXPECT_EQ(g_queue.GetPath(0), dir.Path() + "/x.mp3");
    EXPECT_EQ(g_dirList.m_location, dir.Path());
    EXPECT_EQ(Names(), listed);
    EXPECT_TRUE(g_dirList.IsSelected(RowNamed("x.mp3")));

    // A folder, two files and a special row: the folder is searched, the
    // files come in list order, the special row is passed over.
    g_queue.SelectAll();
    g_queue.RemoveSelected();
    SelectOnly({0, RowNamed("y.mp3"), RowNamed("album"), RowNamed("x.mp3")});
    Command(ID_DIRLIST_ADDTOQUEUE);
    std::vector<std::string> expected = Only(ReaddirOrder(dir.Path() + "/album"), {"t1.mp3", "t2.mp3"});
    for (const std::string& name : Only(listed, {"x.mp3", "y.mp3"}))
        expected.push_back(name);
    EXPECT_EQ(QueueNames(), expected);
    EXPECT_EQ(Names(), listed);

    // Nothing selected: nothing added.
    SelectOnly({});
    Command(ID_DIRLIST_ADDTOQUEUE);
    EXPECT_EQ(g_queue.GetCount(), 4);
}

TEST_F(BrowserListTest, SelectAllMp3FilesAddsToTheSelection)
{
    MakeDir(dir.Path() + "/folder");
    for (const char* file : {"a.mp3", "B.MP3", "c.txt"})
        dir.Write(file, Mp3Bytes("T"));
    Show(dir.Path());
    const long folder = RowNamed("folder");
    auto selected = [this] {
        std::vector<std::string> names;
        for (size_t i = 0; i < g_dirList.RowCount(); ++i)
            if (g_dirList.IsSelected(static_cast<long>(i)))
                names.push_back(g_dirList.Row(i).name);
        std::sort(names.begin(), names.end());
        return names;
    };

    // Ctrl+A adds the MP3 rows; what was selected stays selected.
    SelectOnly({folder});
    KeyDown('A', true);
    EXPECT_EQ(selected(), (std::vector<std::string>{"B.MP3", "a.mp3", "folder"}));
    // A without Ctrl is the list's own business.
    SelectOnly({0});
    KeyDown('A', false);
    EXPECT_FALSE(g_dirList.IsSelected(RowNamed("B.MP3")));
    // The menu command does the same as Ctrl+A.
    SelectOnly({0});
    Command(ID_DIRLIST_SELECTALL);
    EXPECT_EQ(selected(), (std::vector<std::string>{"B.MP3", "Parent Directory", "a.mp3"}));
    EXPECT_EQ(g_dirList.SelectAllMedia(), static_cast<int>(g_dirList.RowCount()));
}

TEST_F(BrowserListTest, ContextMenuReflashesAndGoesUp)
{
    ASSERT_NE(g_dirList.m_pPopup, nullptr);
    const struct
    {
        int id;
        const char* text;
        const char* help;
    } items[] = {
        {ID_DIRLIST_REFLASH, "Reflash", "Reflash the list."},
        {ID_DIRLIST_ADDTOQUEUE, "Add to queue",
         "Add the selected media files to the queue. If a folder is selected, the software will "
         "search for the media files in it automatically."},
        {ID_DIRLIST_PARENT, "Parent directory", "Go back to parent directory."},
        {ID_DIRLIST_SELECTALL, "Select all Mp3 files", "Select all of the media files in the this list."},
    };
    ASSERT_EQ(g_dirList.m_pPopup->GetMenuItemCount(), 4u);
    for (size_t i = 0; i < 4; ++i)
    {
        const wxMenuItem* item = g_dirList.m_pPopup->FindItemByPosition(i);
        EXPECT_EQ(item->GetId(), MenuItemId(items[i].id));
        EXPECT_LT(item->GetId(), 0x7FFF);
        EXPECT_EQ(item->GetItemLabelText(), items[i].text);
        EXPECT_EQ(item->GetHelp(), items[i].help);
    }

    MakeDir(dir.Path() + "/sub");
    Show(dir.Path() + "/sub");
    g_locationBox.RebuildTree();
    dir.Write("sub/new.mp3", Mp3Bytes("N"));
    EXPECT_EQ(RowNamed("new.mp3"), -1);
    Command(ID_DIRLIST_REFLASH);
    EXPECT_EQ(RowNamed("new.mp3"), 1);
    // Reflash leaves the location box alone; going up brings it along.
    EXPECT_EQ(g_locationBox.FaceText(), "My Computer");
    Command(ID_DIRLIST_PARENT);
    EXPECT_EQ(g_dirList.m_location, dir.Path());
    EXPECT_EQ(PathLine(), "Path: " + dir.Path() + "/");
    EXPECT_EQ(g_locationBox.FaceText(), dir.Path().substr(dir.Path().rfind('/') + 1));
}

TEST_F(BrowserListTest, DraggedRowsGoToTheQueueOnlyWhenReleasedOverIt)
{
    dir.Write("drag.mp3", Mp3Bytes("D"));
    dir.Write("other.mp3", Mp3Bytes("O"));
    Show(dir.Path());
    const long row = RowNamed("drag.mp3");
    SelectOnly({row});
    ASSERT_NE(g_hDragCursor, nullptr);

    // The real mouse: press on the row, move away, release. Each drag starts
    // at another point of the row, so that two presses never make a double
    // click.
    wxRect rect;
    ASSERT_TRUE(List()->GetItemRect(row, rect));
    const wxRect queue = dlg->FindWindow(IDC_QUEUE)->GetScreenRect();
    auto drag = [&](int x, const wxPoint& end) {
        const wxPoint start = List()->ClientToScreen(rect.GetPosition() + wxPoint(x, rect.height / 2));
        wxUIActionSimulator mouse;
        mouse.MouseMove(start);
        Flush();
        mouse.MouseDown();
        Flush();
        // The list takes a few small moves on the row as the start of a drag.
        for (int step = 1; step <= 3; ++step)
        {
            mouse.MouseMove(start + wxPoint(2 * step, 0));
            Flush();
        }
        for (int step = 1; step <= 10; ++step)
        {
            mouse.MouseMove(start + (end - start) * step / 10);
            Flush();
            if (step == 5)
            {
                EXPECT_EQ(g_dirList.m_bDragging, 1);
                EXPECT_TRUE(Rows()->GetCursor().IsSameAs(*g_hDragCursor));
            }
        }
        mouse.MouseUp();
        Flush();
    };

    // Released over the list itself, then over the location box: nothing.
    drag(20, List()->ClientToScreen(rect.GetPosition() + wxPoint(40, 80)));
    EXPECT_EQ(g_dirList.m_bDragging, 0);
    EXPECT_FALSE(Rows()->GetCursor().IsOk());
    SelectOnly({row});
    drag(60, g_locationBox.GetCtrl()->GetScreenRect().GetPosition() + wxPoint(5, 5));
    EXPECT_EQ(g_dirList.m_bDragging, 0);
    EXPECT_EQ(g_queue.GetCount(), 0);

    // Released over the queue: the selected rows come in.
    SelectOnly({row});
    drag(100, queue.GetPosition() + wxPoint(queue.width / 2, queue.height / 2));
    EXPECT_EQ(g_dirList.m_bDragging, 0);
    EXPECT_EQ(QueueNames(), std::vector<std::string>{"drag.mp3"});
}
