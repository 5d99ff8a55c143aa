#include "GuiTest.h"
#include "PlayerTestSupport.h"

#include "app/Globals.h"
#include "app/Ids.h"
#include "app/RenamerDlg.h"
#include "browser/DirList.h"
#include "core/TagFile.h"
#include "editor/TagEditorDlg.h"
#include "queue/QueueList.h"

#include <wx/choice.h>
#include <wx/dialog.h>
#include <wx/mediactrl.h>
#include <wx/slider.h>
#include <wx/statbox.h>
#include <wx/stattext.h>
#include <wx/textctrl.h>

#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace
{
class EditorTest : public MainWindowTestBase
{
protected:
    void SetUp() override
    {
        MainWindowTestBase::SetUp();
        wnd = g_tagEditor.GetWindow();
    }
    std::string Queue(const std::string& name, const std::string& bytes)
    {
        const std::string path = dir.Write(name, bytes);
        g_queue.AppendEntry(name, path);
        return path;
    }
    // A queued file with a tag of these fields (the track as its byte).
    std::string QueueTagged(const std::string& name, const std::string& title,
                            const std::string& artist = "", const std::string& comment = "",
                            const std::string& track = "", int genre = 255)
    {
        const std::string path = Queue(name, Mp3Bytes(""));
        TheTagFile().WriteTag(path, "MP3", title, artist, "", "1999", comment, track, genre);
        return path;
    }
    void Open(int row) const
    {
        g_queue.DeselectAll();
        g_queue.SelectRow(row);
        dlg->OpenTagEditor();
    }
    wxTextCtrl* Edit(int id) const { return wxDynamicCast(wnd->FindWindow(id), wxTextCtrl); }
    void Set(int id, const std::string& utf8) const
    {
        Edit(id)->ChangeValue(wxString::FromUTF8(utf8));
    }
    std::string Text(int id) const { return Edit(id)->GetValue().utf8_string(); }
    wxChoice* Genre() const { return wxDynamicCast(wnd->FindWindow(IDC_TAG_GENRE), wxChoice); }
    std::string Frame() const { return wnd->FindWindow(IDC_TAG_FRAME)->GetLabel().utf8_string(); }
    static std::string LastTag(const std::string& path)
    {
        const std::string bytes = ReadAll(path);
        return bytes.size() < 128 ? std::string() : bytes.substr(bytes.size() - 128);
    }
    static bool Exists(const std::string& path) { return access(path.c_str(), F_OK) == 0; }

    wxDialog* wnd = nullptr;
    TempDir dir;
};

const char kNotRenamed[] = "Id3v1 information saved, but could not rename the file!";
} // namespace

TEST_F(EditorTest, WindowHasEveryControlInItsPlace)
{
    struct Control
    {
        int id;   // -1: a label or frame, found by its text
        const char* text;
        int x, y, w, h;
    };
    // In the template's order.
    const std::vector<Control> controls = {
        {-1, "Attrib", 4, 3, 216, 36}, {-1, "Path", 10, 14, 16, 8}, {1023, "", 50, 10, 166, 12},
        {1022, "File Name", 10, 25, 34, 8}, {1024, "", 50, 24, 123, 12},
        {1026, "From title", 177, 24, 39, 12}, {1043, "ID3v1", 4, 41, 216, 79},
        {-1, "Title", 10, 52, 15, 8}, {1025, "", 50, 48, 106, 12},
        {1041, "From file name", 160, 48, 56, 12}, {-1, "Artist", 10, 65, 18, 8},
        {1027, "", 50, 62, 166, 12}, {-1, "Album", 10, 79, 21, 8}, {1028, "", 50, 76, 119, 12},
        {-1, "Track", 172, 78, 19, 8}, {1032, "", 198, 76, 18, 12}, {-1, "Year", 10, 92, 17, 8},
        {1029, "", 50, 90, 40, 12}, {-1, "Genre", 93, 92, 21, 8}, {1030, "", 117, 90, 100, 12},
        {-1, "Comment", 10, 105, 32, 8}, {1031, "", 50, 104, 166, 12},
        {-1, "Play", 4, 121, 216, 26}, {1037, "Play", 9, 131, 28, 12},
        {1038, "Pause", 41, 131, 35, 12}, {1039, "Stop", 80, 131, 27, 12},
        {1021, "", 109, 132, 107, 10}, {1033, "Prev", 5, 150, 34, 14},
        {1034, "Next", 50, 150, 33, 14}, {1035, "Save", 95, 150, 33, 14},
        {1036, "Clear", 140, 150, 34, 14}, {2, "Cancel", 185, 150, 35, 14},
    };
    EXPECT_EQ(wnd->GetId(), 149);
    EXPECT_EQ(wnd->GetTitle(), "ID3v1 Editor");
    EXPECT_EQ(wnd->GetClientSize(), wnd->ConvertDialogToPixels(wxSize(223, 167)));
    for (const Control& c : controls)
    {
        SCOPED_TRACE(c.text);
        wxWindow* win = nullptr;
        for (wxWindow* child : wnd->GetChildren())
        {
            const bool fixed =
                wxDynamicCast(child, wxStaticText) || wxDynamicCast(child, wxStaticBox);
            if (c.id != -1 ? child->GetId() == c.id : fixed && child->GetLabel() == c.text)
                win = child;
        }
        ASSERT_NE(win, nullptr);
        EXPECT_TRUE(!*c.text || win->GetLabel() == c.text);
        EXPECT_EQ(win->GetPosition(), wnd->ConvertDialogToPixels(wxPoint(c.x, c.y)));
        wxSize size = wnd->ConvertDialogToPixels(wxSize(c.w, c.h));
        // A label grows to show its whole text in the desktop's font.
        if (wxDynamicCast(win, wxStaticText))
            size.x = std::max(size.x, win->GetBestSize().x);
        EXPECT_EQ(win->GetSize(), size);
    }
    EXPECT_TRUE(Edit(IDC_TAG_PATH)->HasFlag(wxTE_READONLY));
    EXPECT_FALSE(wnd->FindWindow(IDC_TAG_SLIDER)->HasFlag(wxSL_TICKS));
    ASSERT_EQ(Genre()->GetCount(), 148u);
    EXPECT_EQ(Genre()->GetString(147), "SynthPop");
    EXPECT_EQ(Genre()->GetSelection(), wxNOT_FOUND);
}

TEST_F(EditorTest, LoadsTheTagOrShowsNone)
{
    const std::string full = QueueTagged("full.mp3", "Caf\xE9", "Art\xC3\xABst",
                                         std::string("Note\0junk", 9), "\x07", 17);
    const std::string odd = QueueTagged("odd.mp3", "t", "", "", "\x78", 200);
    EXPECT_EQ(g_tagEditor.ShowTag(full), 1);
    EXPECT_EQ(Text(IDC_TAG_PATH) + "|" + Text(IDC_TAG_FILENAME), full + "|full.mp3");
    EXPECT_EQ(Text(IDC_TAG_TITLE), "Caf\xC3\xA9");     // read as Windows-1252
    EXPECT_EQ(Text(IDC_TAG_ARTIST), "Art\xC3\xABst");  // read as UTF-8
    EXPECT_EQ(Text(IDC_TAG_COMMENT), "Note");           // up to the first zero byte
    EXPECT_EQ(Text(IDC_TAG_TRACK), "7");
    EXPECT_EQ(Genre()->GetSelection(), 17);
    EXPECT_EQ(Frame(), "ID3v1");
    // A track above 99 and a genre past the list show nothing.
    EXPECT_EQ(g_tagEditor.ShowTag(odd), 1);
    EXPECT_EQ(Text(IDC_TAG_TRACK), "");
    EXPECT_EQ(Genre()->GetSelection(), wxNOT_FOUND);

    for (const std::string& path : {Queue("bare.mp3", Mp3Bytes("")), Queue("tiny.mp3", "TAG"),
                                    dir.Path() + "/missing.mp3"})
    {
        g_tagEditor.ShowTag(full);
        EXPECT_EQ(g_tagEditor.ShowTag(path), 0);
        EXPECT_EQ(Text(IDC_TAG_PATH) + "|" + Text(IDC_TAG_FILENAME),
                  path + "|" + path.substr(dir.Path().size() + 1));
        EXPECT_EQ(Text(IDC_TAG_TITLE) + Text(IDC_TAG_TRACK) + Text(IDC_TAG_COMMENT), "");
        EXPECT_EQ(Genre()->GetSelection(), wxNOT_FOUND);
        EXPECT_EQ(Frame(), "ID3v1 None!");
    }
}

TEST_F(EditorTest, SaveWritesTheTagAndRenamesTheFile)
{
    const std::string song = Queue("song.mp3", Mp3Bytes("Old"));
    const std::string bare = Queue("bare.mp3", Mp3Bytes(""));
    Open(0);
    Set(IDC_TAG_TITLE, "Caf\xC3\xA9");
    Set(IDC_TAG_ARTIST, "\xD0\x9F\xD1\x80\xD0\xB8");
    Set(IDC_TAG_COMMENT, std::string(30, 'c'));
    Set(IDC_TAG_TRACK, "05");
    Genre()->SetSelection(147);
    Set(IDC_TAG_FILENAME, "Song.MP3");
    g_tagEditor.OnSave();
    const std::string renamed = dir.Path() + "/Song.MP3";
    EXPECT_FALSE(Exists(song));
    EXPECT_EQ(ReadAll(renamed).size(), Mp3Bytes("Old").size());   // replaced, not appended
    const std::string tag = LastTag(renamed);
    EXPECT_EQ(tag.substr(3, 5), std::string("Caf\xE9\0", 5));   // fits Windows-1252
    EXPECT_EQ(tag.substr(33, 7), std::string("\xD0\x9F\xD1\x80\xD0\xB8\0", 7));   // UTF-8
    EXPECT_EQ(tag.substr(97, 30), std::string(28, 'c') + std::string("\0\5", 2));
    EXPECT_EQ(static_cast<unsigned char>(tag[127]), 147);
    const QueueEntry& row = g_queue.Row(0);
    EXPECT_EQ(row.name + "|" + row.original + "|" + row.state,
              "Song.MP3|song.mp3|Renamed manually");
    EXPECT_EQ(row.path, renamed);

    // The name unchanged, the move is made in place.
    // Bytes 125 to 127 by track: "0" is two zeros, none leaves the comment
    // whole; no genre is 255.
    const std::vector<std::pair<const char*, std::string>> tracks = {
        {"0", std::string("\0\0\xFF", 3)}, {"", "cc\xFF"}, {"12", std::string("\0\x0C\xFF", 3)}};
    for (const auto& [track, bytes] : tracks)
    {
        Set(IDC_TAG_TRACK, track);
        Genre()->SetSelection(wxNOT_FOUND);
        g_tagEditor.OnSave();
        EXPECT_EQ(LastTag(renamed).substr(125), bytes);
        EXPECT_EQ(g_queue.Row(0).path, renamed);
    }

    // A file without a tag gets one appended.
    Open(1);
    Set(IDC_TAG_TITLE, "New");
    g_tagEditor.OnSave();
    EXPECT_EQ(ReadAll(bare).size(), Mp3Bytes("").size() + 128);
    EXPECT_EQ(g_tagEditor.ShowTag(bare), 1);
    EXPECT_EQ(Frame(), "ID3v1");
}

TEST_F(EditorTest, SaveLosesNoFileWhenItCannotWriteOrRename)
{
    const std::string a = Queue("a.mp3", Mp3Bytes("A"));
    const std::string b = Queue("b.mp3", Mp3Bytes("B"));
    const std::string tiny = Queue("tiny.mp3", std::string(100, 'x'));
    const std::string raw = Queue("n\xE9.mp3", Mp3Bytes("R"));   // a name that is not UTF-8

    Open(0);
    Set(IDC_TAG_TITLE, "A2");
    for (const char* taken : {"b.mp3", "sub/a.mp3"})
    {
        Set(IDC_TAG_FILENAME, taken);
        wxTEST_DIALOG(g_tagEditor.OnSave(), ExpectWarning(kNotRenamed));
        EXPECT_EQ(LastTag(a).substr(3, 3), std::string("A2\0", 3));
        EXPECT_EQ(ReadAll(b), Mp3Bytes("B"));
        EXPECT_EQ(g_queue.Row(0).state, "Waiting");
    }
    for (int row : {2, 1})
    {
        Open(row);
        const std::string path = g_queue.GetPath(row);
        if (row == 1)
        {
            ASSERT_EQ(unlink(b.c_str()), 0);   // deleted while shown
        }
        wxTEST_DIALOG(g_tagEditor.OnSave(),
                      ExpectWarning(wxString::FromUTF8("Can't save to the file: " + path)));
    }
    EXPECT_EQ(ReadAll(tiny), std::string(100, 'x'));
    EXPECT_FALSE(Exists(b));

    // Read-only: the owner may write again, and the tag is saved.
    Open(0);
    ASSERT_EQ(chmod(a.c_str(), 0444), 0);
    Set(IDC_TAG_TITLE, "A3");
    g_tagEditor.OnSave();
    struct stat st;
    ASSERT_EQ(stat(a.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0644u);
    EXPECT_EQ(LastTag(a).substr(3, 2), "A3");

    // A name shown with a replacement character keeps its own bytes.
    Open(3);
    g_tagEditor.OnSave();
    EXPECT_EQ(g_queue.Row(3).path, raw);
    EXPECT_TRUE(Exists(raw));
}

TEST_F(EditorTest, LimitsHoldWhileTypingAndAtSave)
{
    const std::string path = Queue("song.mp3", Mp3Bytes("Song"));
    Open(0);
    const std::string before = ReadAll(path);
    // Typing stops at the stored limit: 15 Cyrillic letters take 30 bytes.
    wxTextCtrl* title = Edit(IDC_TAG_TITLE);
    title->SetValue("");
    for (int i = 0; i < 16; ++i)
        title->AppendText(wxString::FromUTF8("\xD0\x96"));
    EXPECT_EQ(title->GetValue().length(), 15u);
    Edit(IDC_TAG_YEAR)->SetValue("19x9");
    Edit(IDC_TAG_TRACK)->SetValue("123");
    EXPECT_EQ(Text(IDC_TAG_YEAR) + Text(IDC_TAG_TRACK), "");

    // From a 40-letter name comes a 40-letter title, which Save refuses.
    Set(IDC_TAG_FILENAME, std::string(40, 'n') + ".mp3");
    g_tagEditor.OnFromFileName();
    EXPECT_EQ(Text(IDC_TAG_TITLE), std::string(40, 'n'));
    wxTEST_DIALOG(g_tagEditor.OnSave(), ExpectWarning("Please enter no more than 30 characters."));
    long from = 0, to = 0;
    title->GetSelection(&from, &to);
    EXPECT_EQ(to - from, 40);
    Set(IDC_TAG_TITLE, "ok");
    Set(IDC_TAG_FILENAME, std::string(247, 'f') + ".mp3");
    wxTEST_DIALOG(g_tagEditor.OnSave(), ExpectWarning("Please enter no more than 250 characters."));
    EXPECT_EQ(ReadAll(path), before);
}

TEST_F(EditorTest, FromTitleAndFromFileName)
{
    Queue("song.mp3", Mp3Bytes("Song"));
    Open(0);
    auto fromTitle = [&](const char* title) {
        Set(IDC_TAG_TITLE, title);
        g_tagEditor.OnFromTitle();
        return Text(IDC_TAG_FILENAME);
    };
    EXPECT_EQ(fromTitle("Song"), "Song.mp3");
    EXPECT_EQ(fromTitle("Song.MP3"), "Song.MP3");
    wxTEST_DIALOG(fromTitle(""), ExpectWarning("No Title! "));
    wxTEST_DIALOG(EXPECT_EQ(fromTitle(" x"), "Song.MP3"),
                  ExpectWarning("Invalid Title! \nThe first letter can not be blank."));

    auto fromName = [&](const char* name) {
        Set(IDC_TAG_TITLE, "before");
        Set(IDC_TAG_FILENAME, name);
        g_tagEditor.OnFromFileName();
        return Text(IDC_TAG_TITLE);
    };
    EXPECT_EQ(fromName("a.mp3"), "a");
    wxTEST_DIALOG(EXPECT_EQ(fromName("song"), "before"),
                  ExpectWarning("Invalid file name!\nThe \".mp3\" suffix missed."));
}

TEST_F(EditorTest, PrevAndNextWrapAroundTheQueue)
{
    for (int i = 0; i < 5; ++i)
        Queue("f" + std::to_string(i) + ".mp3", Mp3Bytes("T" + std::to_string(i)));
    Open(4);
    g_queue.SelectRow(2);
    g_tagEditor.OnNext();
    EXPECT_EQ(g_tagEditor.m_row, 0);
    EXPECT_EQ(Text(IDC_TAG_TITLE), "T0");
    EXPECT_TRUE(g_queue.IsSelected(0));
    EXPECT_FALSE(g_queue.IsSelected(2) || g_queue.IsSelected(4));
    g_tagEditor.OnPrev();
    EXPECT_EQ(g_tagEditor.m_row, 4);
    EXPECT_EQ(Text(IDC_TAG_FILENAME), "f4.mp3");
}

TEST_F(EditorTest, ClosingOnlyHidesAndKeysCloseNothing)
{
    Queue("song.mp3", Mp3Bytes("Song"));
    Open(0);
    Flush();   // mapped, as after a person's click
    wxKeyEvent escape(wxEVT_CHAR_HOOK);
    escape.m_keyCode = WXK_ESCAPE;
    escape.SetEventObject(Edit(IDC_TAG_TITLE));
    Edit(IDC_TAG_TITLE)->GetEventHandler()->ProcessEvent(escape);
    wxMouseEvent click(wxEVT_RIGHT_DOWN);
    click.SetEventObject(Edit(IDC_TAG_ARTIST));
    g_dirList.m_bDragging = 1;
    Edit(IDC_TAG_ARTIST)->GetEventHandler()->ProcessEvent(click);
    EXPECT_EQ(g_dirList.m_bDragging, 0);
    EXPECT_TRUE(g_tagEditor.IsVisible());

    wnd->Close();
    Flush();
    EXPECT_FALSE(g_tagEditor.IsVisible());
    EXPECT_EQ(g_tagEditor.GetWindow(), wnd);
    EXPECT_EQ(g_tagEditor.m_isOpen, 0);
    EXPECT_EQ(g_tagEditor.m_row, -1);
}

TEST_F(EditorTest, SaveWhilePlayingGoesOnWhereItWasUnderTheNewName)
{
    const std::string path = WriteAudio(dir, "song.mp3", 10000);
    ASSERT_FALSE(path.empty());
    g_queue.AppendEntry("song.mp3", path);
    Open(0);
    MediaPlayer& p = g_tagEditor.m_player;
    g_tagEditor.OnPlay();
    ASSERT_TRUE(WaitUntil([&] { return g_tagEditor.m_slider->GetMax() > 9000; }));
    p.SeekAndPlay(6000);
    p.TogglePause();   // paused counts as playing

    Set(IDC_TAG_FILENAME, "Renamed.mp3");
    g_tagEditor.OnSave();
    EXPECT_EQ(g_queue.GetPath(0), dir.Path() + "/Renamed.mp3");
    EXPECT_EQ(p.m_playing, 1);
    EXPECT_EQ(p.m_paused, 0);
    EXPECT_EQ(g_tagEditor.m_slider->GetValue(), 6000);
    // From the start it would pass one second long before reaching 5.5.
    auto pos = [&] { return long(p.m_hMciWnd->Tell()); };
    ASSERT_TRUE(WaitUntil([&] { return pos() > 1000; }));
    EXPECT_GE(pos(), 5500);
    EXPECT_FALSE(p.OpenFailed());
}
