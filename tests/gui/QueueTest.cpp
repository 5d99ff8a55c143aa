// SPDX-License-Identifier: GPL-3.0-or-later
#include "GuiTest.h"
#include "ScopedLocale.h"

#include "app/Globals.h"
#include "app/Ids.h"
#include "app/OptionsDlg.h"
#include "app/RenamerDlg.h"
#include "browser/DirList.h"
#include "core/TagFile.h"
#include "editor/TagEditorDlg.h"
#include "queue/QueueList.h"

#include <wx/menu.h>
#include <wx/textctrl.h>
#include <wx/uiaction.h>

#include <algorithm>
#include <functional>
#include <map>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace
{
bool Exists(const std::string& path)
{
    struct stat st;
    return lstat(path.c_str(), &st) == 0;
}

void MakeDir(const std::string& path)
{
    ASSERT_EQ(mkdir(path.c_str(), 0755), 0) << path;
}

// Runs code and fails the test if it shows any dialog.
void ExpectNoDialog(const std::function<void()>& code)
{
    GtestModalHook hook(__FILE__, __LINE__, "no dialog");
    code();
    hook.CheckUnmetExpectations();
}

class QueueTest : public MainWindowTestBase
{
protected:
    void SetUp() override
    {
        MainWindowTestBase::SetUp();
        g_optionsDlg.m_bWithArtist = 0;
    }

    std::vector<std::string> Names() const
    {
        std::vector<std::string> names;
        for (int i = 0; i < g_queue.GetCount(); ++i)
            names.push_back(g_queue.GetName(i));
        return names;
    }
    const QueueEntry& Row(int i) const { return g_queue.Row(static_cast<size_t>(i)); }
    std::string Counts() const { return g_hQueueStatus->GetValue().utf8_string(); }
    void SelectOnly(std::initializer_list<int> rows) const
    {
        g_queue.DeselectAll();
        for (int row : rows)
            g_queue.SelectRow(row);
    }
    // Queues files of the folder by dropping them.
    void Drop(const std::vector<std::string>& paths) const { g_queue.DropFiles(paths); }

    TempDir dir;
};
} // namespace

TEST_F(QueueTest, DroppedFolderIsSearchedDepthFirstSkippingHiddenNamesAndLoops)
{
    const std::string root = dir.Path() + "/music";
    MakeDir(root);
    MakeDir(root + "/sub");
    MakeDir(root + "/sub/deeper");
    MakeDir(root + "/.dotdir");
    MakeDir(root + "/folder.mp3");
    dir.Write("music/a.mp3", Mp3Bytes("A"));
    dir.Write("music/LOUD.MP3", Mp3Bytes("B"));
    dir.Write("music/notes.txt", "text");
    dir.Write("music/song.mp3.bak", Mp3Bytes("C"));
    dir.Write("music/.hidden.mp3", Mp3Bytes("D"));
    dir.Write("music/sub/c.mp3", Mp3Bytes("E"));
    dir.Write("music/sub/MiXeD.Mp3", Mp3Bytes("F"));
    dir.Write("music/sub/deeper/d.mp3", Mp3Bytes("G"));
    dir.Write("music/.dotdir/e.mp3", Mp3Bytes("H"));
    dir.Write("music/folder.mp3/inside.mp3", Mp3Bytes("I"));
    // A link back to the top would make the search endless.
    ASSERT_EQ(symlink(root.c_str(), (root + "/sub/loop").c_str()), 0);

    Drop({root});
    std::vector<std::string> names = Names();
    std::vector<std::string> sorted = names;
    std::sort(sorted.begin(), sorted.end());
    EXPECT_EQ(sorted, (std::vector<std::string>{"LOUD.MP3", "MiXeD.Mp3", "a.mp3", "c.mp3", "d.mp3",
                                                "inside.mp3"}));
    // A sub-folder's files stand together where the sub-folder was met.
    auto at = [&names](const char* name) {
        return std::find(names.begin(), names.end(), name) - names.begin();
    };
    const long first = std::min({at("c.mp3"), at("MiXeD.Mp3"), at("d.mp3")});
    const long last = std::max({at("c.mp3"), at("MiXeD.Mp3"), at("d.mp3")});
    EXPECT_EQ(last - first, 2);
    EXPECT_EQ(Row(static_cast<int>(at("d.mp3"))).path, root + "/sub/deeper/d.mp3");
    for (int i = 0; i < g_queue.GetCount(); ++i)
    {
        EXPECT_EQ(Row(i).state, "Waiting");
        EXPECT_EQ(Row(i).original, "-");
    }
    EXPECT_EQ(Counts(), "6 files total, 0 files selected.");

    // Dropped again, and file by file: nothing new. A folder named like an
    // MP3 file comes in as one row, not searched; a text file not at all.
    Drop({root, root + "/a.mp3", root + "/notes.txt", root + "/folder.mp3"});
    EXPECT_EQ(g_queue.GetCount(), 7);
    EXPECT_EQ(g_queue.GetName(6), "folder.mp3");
    Drop({dir.Path() + "/missing"});
    EXPECT_EQ(g_queue.GetCount(), 7);
}

TEST_F(QueueTest, AddEntryFromTheDirectoryList)
{
    dir.Write("x.mp3", Mp3Bytes("X"));
    EXPECT_EQ(g_queue.AddEntry("x.mp3", "", ADD_MP3), 0);
    EXPECT_EQ(g_queue.AddEntry("", dir.Path() + "/x.mp3", ADD_MP3), 0);
    EXPECT_EQ(Counts(), "");
    EXPECT_EQ(g_queue.AddEntry("x.mp3", dir.Path() + "/x.mp3", ADD_MP3), 1);
    EXPECT_EQ(g_queue.AddEntry("", dir.Path(), ADD_FOLDER), 1);
    EXPECT_EQ(g_queue.GetCount(), 1);
    EXPECT_EQ(Counts(), "1 files total, 0 files selected.");
    g_queue.SelectAll();
    EXPECT_EQ(Counts(), "1 files total, 1 files selected.");
    g_queue.DeselectAll();
    EXPECT_EQ(Counts(), "1 files total, 0 files selected.");
    // The identical path only once; a path differing in case is another file.
    g_queue.AppendEntry("X.mp3", dir.Path() + "/X.mp3");
    EXPECT_TRUE(g_queue.IsQueued(dir.Path() + "/X.mp3"));
    EXPECT_FALSE(g_queue.IsQueued(dir.Path() + "/x.MP3"));
    EXPECT_EQ(g_queue.GetCount(), 2);
}

TEST_F(QueueTest, DropListsAreReadAsRawLocalPaths)
{
    const std::string list = "# comment\r\n"
                             "file:///music/a%20b.mp3\r\n"
                             "file://localhost/music/caf%E9.mp3\r\n"
                             "file://otherhost/music/remote.mp3\r\n"
                             "http://example.org/web.mp3\r\n"
                             "file:///music/bad%00name.mp3\r\n"
                             "file:/music/short.mp3\n";
    EXPECT_EQ(ParseUriList(list), (std::vector<std::string>{"/music/a b.mp3", "/music/caf\xE9.mp3",
                                                            "/music/short.mp3"}));

    // A long dropped path is used whole, not cut at some buffer's length.
    std::string deep = dir.Path();
    while (deep.size() < 300)
    {
        deep += "/folder-with-a-long-name";
        MakeDir(deep);
    }
    const std::string path = dir.Write(deep.substr(dir.Path().size() + 1) + "/song.mp3", Mp3Bytes("S"));
    Drop({path});
    ASSERT_EQ(g_queue.GetCount(), 1);
    EXPECT_EQ(g_queue.GetPath(0), path);
    EXPECT_EQ(g_queue.GetName(0), "song.mp3");
}

TEST_F(QueueTest, AutoRenameRenamesTheSelectedFilesAfterTheirTags)
{
    const std::string a = dir.Write("track01.MP3", Mp3Bytes("Yesterday", "Beatles"));
    const std::string b = dir.Write("track02.mp3", Mp3Bytes("Help!", "Beatles"));
    const std::string c = dir.Write("track03.mp3", Mp3Bytes("Yesterday", "Other"));
    const std::string d = dir.Write("notag.mp3", Mp3Bytes(""));
    const std::string e = dir.Write("short.mp3", std::string(100, 'x'));
    const std::string f = dir.Write("left.mp3", Mp3Bytes("Unselected"));
    const std::string g = dir.Write("gone.mp3", Mp3Bytes("Gone"));
    Drop({a, b, c, d, e, f, g});
    ASSERT_EQ(g_queue.GetCount(), 7);
    ASSERT_EQ(unlink(g.c_str()), 0);

    wxTEST_DIALOG(g_queue.AutoRenameSelected(), ExpectWarning("Please select files in the queue! "));
    EXPECT_TRUE(Exists(a));

    SelectOnly({0, 1, 2, 3, 4, 6});
    ExpectNoDialog([] { EXPECT_EQ(g_queue.AutoRenameSelected(), 1); });
    const std::string folder = dir.Path() + "/";
    EXPECT_TRUE(Exists(folder + "Yesterday.mp3"));
    EXPECT_TRUE(Exists(folder + "Help.mp3"));
    EXPECT_FALSE(Exists(a));
    EXPECT_FALSE(Exists(b));
    EXPECT_TRUE(Exists(c)) << "the second file of the same title keeps its name";

    EXPECT_EQ(Row(0).name, "Yesterday.mp3");
    EXPECT_EQ(Row(0).state, "Successful");
    EXPECT_EQ(Row(0).original, "track01.MP3");
    EXPECT_EQ(Row(0).path, folder + "Yesterday.mp3");
    EXPECT_EQ(Row(2).state, "Failed, Unable to rename the file automatically! ");
    EXPECT_EQ(Row(2).name, "track03.mp3");
    EXPECT_EQ(Row(3).state, "Failed, Song name not found! ");
    EXPECT_EQ(Row(4).state, "Failed, File unwritable! ");
    EXPECT_EQ(Row(5).state, "Waiting");
    EXPECT_EQ(Row(6).state, "Failed, File unwritable! ") << "vanished after it was queued";
    EXPECT_TRUE(g_queue.IsQueued(folder + "Yesterday.mp3"));
    EXPECT_FALSE(g_queue.IsQueued(a));

    // Again: the renamed rows are left alone.
    ExpectNoDialog([] { g_queue.AutoRenameSelected(); });
    EXPECT_EQ(Row(0).original, "track01.MP3");
    EXPECT_TRUE(Exists(folder + "Yesterday.mp3"));

    // With the artist first, the third file finds a free name.
    g_optionsDlg.m_bWithArtist = 1;
    SelectOnly({2});
    g_queue.AutoRenameSelected();
    EXPECT_EQ(Row(2).name, "Other - Yesterday.mp3");
    EXPECT_TRUE(Exists(folder + "Other - Yesterday.mp3"));
}

TEST_F(QueueTest, AStateCutShortShowsWholeUnderThePointer)
{
    Drop({dir.Write("a.mp3", Mp3Bytes("Song")), dir.Write("b.mp3", Mp3Bytes(""))});
    SelectOnly({0, 1});
    g_queue.AutoRenameSelected();
    ASSERT_EQ(Row(1).state, "Failed, Song name not found! ");
    wxWindow* rows = g_queue.GetCtrl()->GetRowsWindow();
    const auto hover = [rows](int row, int column) {
        wxRect cell;
        EXPECT_TRUE(g_queue.GetCtrl()->GetSubItemRect(row, column, cell));
        wxUIActionSimulator mouse;
        mouse.MouseMove(g_queue.GetCtrl()->ClientToScreen(cell.GetPosition() + wxPoint(10, 3)));
        Flush();
        return rows->GetToolTipText().utf8_string();
    };
    EXPECT_EQ(hover(1, COL_STATE), "Failed, Song name not found! ");
    EXPECT_EQ(hover(0, COL_STATE), "") << "Successful fits";
    EXPECT_EQ(hover(1, COL_NAME), "");
}

TEST_F(QueueTest, UndoGivesTheOldNamesBackWithoutReplacingAnything)
{
    const std::string a = dir.Write("a.mp3", Mp3Bytes("First"));
    const std::string b = dir.Write("b.mp3", Mp3Bytes("Second"));
    const std::string c = dir.Write("c.mp3", Mp3Bytes(""));
    Drop({a, b, c});
    SelectOnly({0, 1, 2});
    // Both batches show the busy pointer to their end, when they close the
    // editor.
    bool busy = false;
    g_tagEditor.GetWindow()->Bind(wxEVT_SHOW, [&busy](wxShowEvent& event) {
        busy = wxIsBusy();
        event.Skip();
    });
    auto busyToTheEnd = [&busy](const std::function<void()>& batch) {
        g_tagEditor.Show();
        g_tagEditor.m_isOpen = 1;
        busy = false;
        batch();
        return busy && !g_tagEditor.IsVisible() && !wxIsBusy();
    };
    EXPECT_TRUE(busyToTheEnd([] { g_queue.AutoRenameSelected(); }));
    ASSERT_EQ(Row(2).state, "Failed, Song name not found! ");

    // Another file took b's old name meanwhile.
    dir.Write("b.mp3", "someone else's");
    EXPECT_TRUE(busyToTheEnd([] { ExpectNoDialog([] { g_queue.UndoSelected(); }); }));
    EXPECT_TRUE(Exists(a));
    EXPECT_FALSE(Exists(dir.Path() + "/First.mp3"));
    EXPECT_EQ(Row(0).name, "a.mp3");
    EXPECT_EQ(Row(0).state, "Waiting");
    EXPECT_EQ(Row(0).original, "-");
    EXPECT_EQ(Row(0).path, a);
    EXPECT_EQ(Row(1).state, "Successful") << "the move back would have replaced a file";
    EXPECT_TRUE(Exists(dir.Path() + "/Second.mp3"));
    EXPECT_EQ(Row(2).state, "Waiting");
    EXPECT_TRUE(Exists(c));

    // A row renamed by hand forgets its old name, and the file keeps the new.
    SelectOnly({2});
    g_queue.EndLabelEdit(2, "Mine.mp3", false);
    ASSERT_EQ(Row(2).state, "Renamed manually");
    g_queue.UndoSelected();
    EXPECT_EQ(Row(2).state, "Waiting");
    EXPECT_EQ(Row(2).original, "-");
    EXPECT_TRUE(Exists(dir.Path() + "/Mine.mp3"));
}

TEST_F(QueueTest, NamesThatAreNotUtf8RenameAndUndo)
{
    // A Latin-1 file name and a Windows-1252 tag title.
    ScopedLocale unset(nullptr);
    const std::string raw = dir.Write("caf\xE9.mp3", Mp3Bytes("Caf\xE9"));
    Drop({dir.Path()});
    ASSERT_EQ(g_queue.GetCount(), 1);
    EXPECT_EQ(g_queue.GetName(0), "caf\xE9.mp3");
    g_queue.SelectAll();
    g_queue.AutoRenameSelected();
    EXPECT_EQ(Row(0).name, "Caf\xC3\xA9.mp3");
    EXPECT_TRUE(Exists(dir.Path() + "/Caf\xC3\xA9.mp3"));
    g_queue.UndoSelected();
    EXPECT_TRUE(Exists(raw));
    EXPECT_EQ(Row(0).path, raw);

    // An edit of the name that ends as it began moves the file onto itself.
    wxListCtrl* list = g_queue.GetCtrl();
    list->EditLabel(0);
    list->EndEditLabel(false);
    EXPECT_TRUE(Exists(raw));
    EXPECT_EQ(Row(0).path + "|" + Row(0).state, raw + "|Renamed manually");
}

TEST_F(QueueTest, RemoveTakesEverySelectedRowAndKeepsTheCounts)
{
    wxTEST_DIALOG(g_queue.RemoveSelected(), ExpectWarning("No file in queue! "));
    wxTEST_DIALOG(g_queue.OnKey('A', true), ExpectWarning("No file in queue! "));
    wxTEST_DIALOG(g_queue.OnKey(WXK_DELETE, false), ExpectWarning("No file in queue! "));
    for (int i = 0; i < 6; ++i)
        g_queue.AppendEntry("f" + std::to_string(i) + ".mp3", "/q/f" + std::to_string(i) + ".mp3");
    g_queue.UpdateCounts();
    EXPECT_EQ(Counts(), "6 files total, 0 files selected.");

    // A Remove of nothing warns and leaves an open editor open.
    g_tagEditor.Show();
    g_tagEditor.m_isOpen = 1;
    wxTEST_DIALOG(g_queue.OnKey(WXK_DELETE, false), ExpectWarning("Please select files in the queue! "));
    EXPECT_EQ(Counts(), "6 files total, 0 files selected.");
    EXPECT_TRUE(g_tagEditor.IsVisible());

    // Three adjacent rows and one more.
    SelectOnly({1, 2, 3, 5});
    g_queue.UpdateCounts();
    EXPECT_EQ(Counts(), "6 files total, 4 files selected.");
    g_queue.OnContextCommand(ID_QUEUE_REMOVE);
    EXPECT_FALSE(g_tagEditor.IsVisible()) << "removing rows closes the editor";
    EXPECT_EQ(g_tagEditor.m_isOpen, 0);
    EXPECT_EQ(Names(), (std::vector<std::string>{"f0.mp3", "f4.mp3"}));
    EXPECT_EQ(Counts(), "2 files total, 0 files selected.");
    EXPECT_FALSE(g_queue.IsQueued("/q/f2.mp3"));
    EXPECT_TRUE(g_queue.IsQueued("/q/f4.mp3"));
    EXPECT_EQ(g_queue.FirstSelectedRow(), -1);

    g_queue.OnKey('A', true);
    EXPECT_EQ(Counts(), "2 files total, 2 files selected.");
    EXPECT_EQ(g_queue.FirstSelectedRow(), 0);
}

TEST_F(QueueTest, RightClickOpensOneMenuAndKeysGoByTheirOwnFlags)
{
    for (int i = 0; i < 4; ++i)
        g_queue.AppendEntry("f.mp3", "/q/f" + std::to_string(i) + ".mp3");
    auto selected = [] {
        std::vector<int> rows;
        for (int i = 0; i < g_queue.GetCount(); ++i)
            if (g_queue.IsSelected(i))
                rows.push_back(i);
        return rows;
    };
    // On a row not selected: it alone, before the menu shows; elsewhere the
    // selection stays.
    CQueueListCtrl* list = g_queue.GetCtrl();
    wxRect row2;
    list->GetItemRect(2, row2);
    std::vector<int> atOpen;
    SelectOnly({0});
    EXPECT_EQ(RightClick(list, row2.GetPosition() + wxPoint(30, row2.height / 2), g_queue.m_pPopup,
                         [&] { atOpen = selected(); }),
              1);
    EXPECT_EQ(atOpen, std::vector<int>{2});
    SelectOnly({1, 3});
    EXPECT_EQ(RightClick(list, wxPoint(100, list->GetClientSize().y / 2), g_queue.m_pPopup,
                         [&] { atOpen = selected(); }),
              1);
    EXPECT_EQ(atOpen, (std::vector<int>{1, 3}));

    // Ctrl as the key event says, whatever the keyboard's state; both Delete
    // keys remove.
    wxWindow* rows = list->GetRowsWindow();
    auto press = [rows](int code, bool control) {
        wxKeyEvent key(wxEVT_KEY_DOWN);
        key.m_keyCode = code;
        key.m_controlDown = control;
        key.SetEventObject(rows);
        rows->GetEventHandler()->ProcessEvent(key);
    };
    SelectOnly({});
    press('A', true);
    EXPECT_EQ(selected().size(), 4u);
    for (int code : {int(WXK_NUMPAD_DELETE), int(WXK_DELETE)})
    {
        SelectOnly({0});
        press(code, false);
    }
    EXPECT_EQ(g_queue.GetCount(), 2);
}

TEST_F(QueueTest, EditingANameRenamesThatRowsFile)
{
    const std::string a = dir.Write("a.mp3", Mp3Bytes("A"));
    const std::string b = dir.Write("b.mp3", Mp3Bytes("B"));
    dir.Write("taken.mp3", "x");
    Drop({a, b});

    // The rules, each with its message; nothing changes.
    wxTEST_DIALOG(g_queue.EndLabelEdit(1, "song.txt", false),
                  ExpectWarning("Invalid file name!\nThe \".mp3\" suffix missed.", dlg));
    wxTEST_DIALOG(g_queue.EndLabelEdit(1, ".mp3", false), ExpectWarning("Invalid file name! "));
    wxTEST_DIALOG(g_queue.EndLabelEdit(1, " b.mp3", false),
                  ExpectWarning("Invalid file name!\nThe first letter of the file name can not be blank."));
    ExpectNoDialog([] {
        g_queue.EndLabelEdit(1, "", false);
        g_queue.EndLabelEdit(1, "x.mp3", true);
        g_queue.EndLabelEdit(1, "taken.mp3", false);
        g_queue.EndLabelEdit(1, "../out.mp3", false);
    });
    EXPECT_TRUE(Exists(b));
    EXPECT_FALSE(Exists(dir.Path() + "/../out.mp3"));
    EXPECT_EQ(Row(1).state, "Waiting");

    // Row 0 is selected, but row 1's label was edited: row 1's file moves.
    SelectOnly({0});
    g_tagEditor.Show();
    g_tagEditor.m_isOpen = 1;
    g_queue.EndLabelEdit(1, "New Song.MP3", false);
    EXPECT_TRUE(Exists(a));
    EXPECT_TRUE(Exists(dir.Path() + "/New Song.MP3"));
    EXPECT_EQ(Row(1).name, "New Song.MP3");
    EXPECT_EQ(Row(1).state, "Renamed manually");
    EXPECT_EQ(Row(1).original, "b.mp3");
    EXPECT_EQ(Row(1).path, dir.Path() + "/New Song.MP3");
    EXPECT_FALSE(g_tagEditor.IsVisible());
    EXPECT_EQ(g_tagEditor.m_isOpen, 1) << "hidden, not closed";

    // Auto-rename records the hand-given name as the one to go back to.
    SelectOnly({1});
    g_queue.AutoRenameSelected();
    EXPECT_EQ(Row(1).name, "B.mp3");
    EXPECT_EQ(Row(1).original, "New Song.MP3");
    g_queue.UndoSelected();
    EXPECT_TRUE(Exists(dir.Path() + "/New Song.MP3"));
}

TEST_F(QueueTest, ContextCommandsOnAnEmptyQueueWarn)
{
    // Play and Edit go through the main window; the rest are the queue's own.
    for (int command : {ID_QUEUE_PLAY, ID_QUEUE_EDITTAG, ID_QUEUE_AUTORENAME, ID_QUEUE_UNDO,
                        ID_QUEUE_SELECTALL})
        wxTEST_DIALOG(g_queue.OnContextCommand(command), ExpectWarning("No file in queue! "));
    ASSERT_NE(g_queue.m_pPopup, nullptr);
    EXPECT_EQ(g_queue.m_pPopup->GetMenuItemCount(), 6u);
}

TEST_F(QueueTest, TheEditorFollowsTheQueueWhileShown)
{
    for (int i = 0; i < 3; ++i)
        g_queue.AppendEntry("f.mp3", "/q/f" + std::to_string(i) + ".mp3");
    // Hidden: keys and clicks leave it alone.
    g_tagEditor.m_row = 1;
    g_queue.EditorFollowKey(WXK_UP);
    EXPECT_EQ(g_tagEditor.m_row, 1);

    g_tagEditor.Show();
    g_queue.EditorFollowKey(WXK_UP);
    g_queue.EditorFollowKey(WXK_UP);
    EXPECT_EQ(g_tagEditor.m_row, 0);
    for (int i = 0; i < 4; ++i)
        g_queue.EditorFollowKey(WXK_DOWN);
    EXPECT_EQ(g_tagEditor.m_row, 2);

    SelectOnly({1});
    g_queue.EditorFollowClick();
    EXPECT_EQ(g_tagEditor.m_row, 1);
}

TEST_F(QueueTest, DoubleClickPlacesTheEditorClearOfTheWorkAreaEdges)
{
    g_queue.AppendEntry("f.mp3", "/q/f.mp3");
    SelectOnly({0});
    wxWindow* editor = g_tagEditor.GetWindow();
    editor->Move(100, 100);
    const wxSize size = editor->GetSize();
    g_queue.OpenEditorAtPointer(wxPoint(500, 300));
    EXPECT_EQ(editor->GetPosition(), wxPoint(520, 320));
    EXPECT_EQ(g_tagEditor.m_isOpen, 1);
    EXPECT_EQ(g_tagEditor.m_row, 0);

    // Near the bottom right corner of the 1280x1024 screen: left of and above.
    g_queue.OpenEditorAtPointer(wxPoint(1270, 1015));
    EXPECT_EQ(editor->GetPosition(), wxPoint(1270 - size.x - 15, 1015 - size.y - 15));
}

TEST_F(QueueTest, ManyAddsInARowShowOnceAtTheEnd)
{
    g_queue.BeginAdding();
    g_queue.BeginAdding();
    for (int i = 0; i < 3; ++i)
        g_queue.AddEntry("f.mp3", "/q/f" + std::to_string(i) + ".mp3", ADD_MP3);
    EXPECT_TRUE(g_queue.IsQueued("/q/f2.mp3"));
    g_queue.EndAdding();
    EXPECT_EQ(Counts(), "");
    EXPECT_EQ(g_queue.GetCtrl()->GetItemCount(), 0);
    g_queue.EndAdding();
    EXPECT_EQ(Counts(), "3 files total, 0 files selected.");
    EXPECT_EQ(g_queue.GetCtrl()->GetItemCount(), 3);
}
