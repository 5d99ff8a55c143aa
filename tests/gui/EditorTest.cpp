// SPDX-License-Identifier: GPL-3.0-or-later
#include "PlayerTestSupport.h"
#include "ScopedLocale.h"

#include "browser/DirList.h"
#include "core/TagFile.h"
#include "editor/TagEditorDlg.h"

#include <wx/choice.h>
#include <wx/listctrl.h>
#include <wx/stattext.h>
#include <wx/textctrl.h>

#include <gtk/gtk.h>

#include <iterator>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace
{
class EditorTest : public QueueTestBase
{
protected:
    void Open(int row) const
    {
        g_queue.DeselectAll();
        g_queue.SelectRow(row);
        dlg->OpenTagEditor();
    }
    static wxDialog* Wnd() { return g_tagEditor.GetWindow(); }
    static wxTextCtrl* Edit(int id) { return wxDynamicCast(Wnd()->FindWindow(id), wxTextCtrl); }
    static void Set(int id, const std::string& s) { Edit(id)->ChangeValue(wxString::FromUTF8(s)); }
    static std::string Text(int id) { return Edit(id)->GetValue().utf8_string(); }
    // File Name, the tag fields, the genre's index and the frame's label.
    static std::string Shown()
    {
        std::string all = Text(IDC_TAG_FILENAME);
        for (int id : {IDC_TAG_TITLE, IDC_TAG_ARTIST, IDC_TAG_ALBUM, IDC_TAG_YEAR, IDC_TAG_COMMENT,
                       IDC_TAG_TRACK})
            all += "|" + Text(id);
        return all + "|" + std::to_string(g_tagEditor.m_genreBox->GetSelection()) + "|" +
               Wnd()->FindWindow(IDC_TAG_FRAME)->GetLabel().utf8_string();
    }
    // The tag after the audio of Mp3Bytes.
    static std::string Tag(const std::string& path) { return ReadAll(path).substr(600); }
    static bool Exists(const std::string& path) { return access(path.c_str(), F_OK) == 0; }

    ScopedLocale locale{nullptr};   // tag texts not in UTF-8 read as Windows-1252
};
} // namespace

TEST_F(EditorTest, WindowHasEveryControlInItsPlaceAndTabOrder)
{
    // The frames first, so the rest stay on top of them; id -1 for a label.
    const struct { int id; const char* text; int x, y, w, h; } controls[] = {
        {-1, "Attrib", 4, 3, 216, 36}, {1043, "ID3v1", 4, 41, 216, 79},
        {-1, "Play", 4, 121, 216, 26}, {-1, "Path", 10, 14, 16, 8}, {1023, "", 50, 10, 166, 12},
        {1022, "File Name", 10, 25, 34, 8}, {1024, "", 50, 24, 123, 12},
        {1026, "From title", 177, 24, 39, 12}, {-1, "Title", 10, 52, 15, 8},
        {1025, "", 50, 48, 106, 12}, {1041, "From file name", 160, 48, 56, 12},
        {-1, "Artist", 10, 65, 18, 8}, {1027, "", 50, 62, 166, 12}, {-1, "Album", 10, 79, 21, 8},
        {1028, "", 50, 76, 119, 12}, {-1, "Track", 172, 78, 19, 8}, {1032, "", 198, 76, 18, 12},
        {-1, "Year", 10, 92, 17, 8}, {1029, "", 50, 90, 40, 12}, {-1, "Genre", 93, 92, 21, 8},
        {1030, "", 117, 90, 100, 12}, {-1, "Comment", 10, 105, 32, 8}, {1031, "", 50, 104, 166, 12},
        {1037, "Play", 9, 131, 28, 12}, {1038, "Pause", 41, 131, 35, 12},
        {1039, "Stop", 80, 131, 27, 12}, {1021, "", 109, 132, 107, 10},
        {1033, "Prev", 5, 150, 34, 14}, {1034, "Next", 50, 150, 33, 14},
        {1035, "Save", 95, 150, 33, 14}, {1036, "Clear", 140, 150, 34, 14},
        {2, "Cancel", 185, 150, 35, 14}};
    wxDialog* wnd = Wnd();
    EXPECT_EQ(wnd->GetTitle(), "ID3v1 Editor");
    EXPECT_EQ(wnd->GetClientSize(), wnd->ConvertDialogToPixels(wxSize(223, 167)));
    ASSERT_EQ(wnd->GetChildren().size(), std::size(controls));
    size_t i = 0;
    for (wxWindow* win : wnd->GetChildren())
    {
        const auto& c = controls[i++];
        SCOPED_TRACE(c.text);
        EXPECT_TRUE(c.id == -1 || win->GetId() == c.id);
        EXPECT_TRUE(!*c.text || win->GetLabel() == c.text);
        EXPECT_EQ(win->GetPosition(), wnd->ConvertDialogToPixels(wxPoint(c.x, c.y)));
        wxSize size = wnd->ConvertDialogToPixels(wxSize(c.w, c.h));
        // A label grows to show its whole text in the desktop's font.
        if (dynamic_cast<wxStaticText*>(win))
            size.x = std::max(size.x, win->GetBestSize().x);
        EXPECT_EQ(win->GetSize(), size);
    }
    EXPECT_TRUE(Edit(IDC_TAG_PATH)->HasFlag(wxTE_READONLY));
}

TEST_F(EditorTest, ShowsAndSavesTheTagAndRenamesTheFile)
{
    const std::string audio = Mp3Bytes(""), cyrillic = "\xD0\x9F\xD1\x80\xD0\xB8";
    const std::string song = Queue("song.mp3", audio), bare = Queue("bare.mp3", audio);
    ASSERT_EQ(TheTagFile().WriteTag(song, "MP3", "Caf\xE9", cyrillic, "", "1999",
                                    std::string("Note\0junk", 9), "\x07", 17), 1);
    // Title in Windows-1252, artist in UTF-8, comment up to its first zero.
    Open(0);
    // The caret starts in the first field that can be edited, and the narrow
    // Track field has room for two digits.
    Flush();
    EXPECT_EQ(wxWindow::FindFocus(), Edit(IDC_TAG_FILENAME));
    GdkRectangle area;
    gtk_entry_get_text_area(GTK_ENTRY(Edit(IDC_TAG_TRACK)->GetHandle()), &area);
    EXPECT_GE(area.width, Edit(IDC_TAG_TRACK)->GetTextExtent("07").x);
    EXPECT_EQ(Text(IDC_TAG_PATH) + "|" + Shown(),
              song + "|song.mp3|Caf\xC3\xA9|" + cyrillic + "||1999|Note|7|17|ID3v1");
    // Without a tag, or a file: all empty.
    for (const std::string& path : {dir.Path() + "/missing.mp3", bare})
    {
        EXPECT_EQ(g_tagEditor.ShowTag(path), 0);
        EXPECT_EQ(Text(IDC_TAG_PATH) + "|" + Shown(),
                  path + "|" + path.substr(dir.Path().size() + 1) + "|||||||-1|ID3v1 None!");
        Open(0);
    }
    // A track above 99 and a genre past the list show nothing.
    ASSERT_EQ(TheTagFile().WriteTag(dir.Write("odd.mp3", audio), "MP3", "t", "", "", "", "", "\x78", 200), 1);
    EXPECT_EQ(g_tagEditor.ShowTag(dir.Path() + "/odd.mp3"), 1);
    EXPECT_EQ(Shown(), "odd.mp3|t||||||-1|ID3v1");
    Open(0);

    Set(IDC_TAG_COMMENT, std::string(30, 'c'));
    Set(IDC_TAG_TRACK, "05");
    g_tagEditor.m_genreBox->SetSelection(147);
    Set(IDC_TAG_FILENAME, "Song.MP3");
    g_tagEditor.OnSave();
    const std::string renamed = dir.Path() + "/Song.MP3";
    EXPECT_FALSE(Exists(song));
    // The old tag replaced, the texts stored as they were read.
    auto field = [](std::string text) { text.resize(30, '\0'); return text; };
    EXPECT_EQ(ReadAll(renamed), audio + "TAG" + field("Caf\xE9") + field(cyrillic) +
                                    field("") + "1999" + std::string(28, 'c') +
                                    std::string("\0\5\x93", 3));
    const QueueEntry& row = g_queue.Row(0);
    EXPECT_EQ(row.name + "|" + row.original + "|" + row.state + "|" + row.path,
              "Song.MP3|song.mp3|Renamed manually|" + renamed);

    // Bytes 125 to 127 by track, the name unchanged (moved in place): "0" is
    // two zeros, none leaves the comment whole; no genre is 255.
    const std::pair<const char*, std::string> tracks[] = {
        {"0", std::string("\0\0\xFF", 3)}, {"", "cc\xFF"}, {"12", std::string("\0\x0C\xFF", 3)}};
    for (const auto& [track, bytes] : tracks)
    {
        Set(IDC_TAG_TRACK, track);
        g_tagEditor.m_genreBox->SetSelection(wxNOT_FOUND);
        g_tagEditor.OnSave();
        EXPECT_EQ(Tag(renamed).substr(125), bytes);
        EXPECT_EQ(g_queue.Row(0).path, renamed);
    }

    // A file without a tag gets one appended.
    Open(1);
    Set(IDC_TAG_TITLE, "New");
    g_tagEditor.OnSave();
    EXPECT_EQ(ReadAll(bare), audio + "TAG" + field("New") + std::string(94, '\0') + "\xFF");
    EXPECT_EQ(Shown(), "bare.mp3|New||||||-1|ID3v1");
}

TEST_F(EditorTest, SaveLosesNoFileWhenItCannotWriteOrRename)
{
    const std::string a = Queue("a.mp3", Mp3Bytes("A")), b = Queue("b.mp3", Mp3Bytes("B"));
    const std::string tiny = Queue("tiny.mp3", std::string(100, 'x'));
    const std::string raw = Queue("n\xE9.mp3", Mp3Bytes("R"));   // a name that is not UTF-8

    Open(0);
    Set(IDC_TAG_TITLE, "A2");
    for (const char* taken : {"b.mp3", "sub/a.mp3"})
    {
        Set(IDC_TAG_FILENAME, taken);
        wxTEST_DIALOG(g_tagEditor.OnSave(),
                      ExpectWarning("Id3v1 information saved, but could not rename the file!"));
        EXPECT_EQ(Tag(a).substr(0, 6), std::string("TAGA2\0", 6));
        EXPECT_EQ(ReadAll(b), Mp3Bytes("B"));
        EXPECT_EQ(g_queue.Row(0).state, "Waiting");
    }
    // Too short for a tag (and read-only), or deleted while shown: nothing
    // written or moved, the mode as it was.
    ASSERT_EQ(chmod(tiny.c_str(), 0444), 0);
    for (int row : {2, 1})
    {
        Open(row);
        Set(IDC_TAG_FILENAME, "moved.mp3");
        const std::string path = g_queue.GetPath(row);
        ASSERT_TRUE(row != 1 || unlink(b.c_str()) == 0);
        wxTEST_DIALOG(g_tagEditor.OnSave(),
                      ExpectWarning(wxString::FromUTF8("Can't save to the file: " + path)));
    }
    EXPECT_EQ(ReadAll(tiny), std::string(100, 'x'));
    struct stat st;
    ASSERT_EQ(stat(tiny.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0444u);
    EXPECT_FALSE(Exists(b) || Exists(dir.Path() + "/moved.mp3"));

    // Read-only: the owner may write again, and the tag is saved.
    Open(0);
    ASSERT_EQ(chmod(a.c_str(), 0444), 0);
    Set(IDC_TAG_TITLE, "A3");
    g_tagEditor.OnSave();
    ASSERT_EQ(stat(a.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0644u);
    EXPECT_EQ(Tag(a).substr(3, 2), "A3");

    // A name shown decoded keeps its own bytes.
    Open(3);
    g_tagEditor.OnSave();
    EXPECT_EQ(g_queue.Row(3).path, raw);
    EXPECT_TRUE(Exists(raw));
}

TEST_F(EditorTest, FieldsKeepTheirLimitsAndCopyNameAndTitle)
{
    const std::string path = Queue("song.mp3", Mp3Bytes("Song"));
    Open(0);
    // Typing stops at the stored limit: 15 Cyrillic letters take 30 bytes.
    wxTextCtrl* title = Edit(IDC_TAG_TITLE);
    title->SetValue("");
    for (int i = 0; i < 16; ++i)
        title->AppendText(wxString::FromUTF8("\xD0\x96"));
    EXPECT_EQ(title->GetValue().length(), 15u);
    Edit(IDC_TAG_YEAR)->SetValue("19x9");
    Edit(IDC_TAG_TRACK)->SetValue("123");
    EXPECT_EQ(Text(IDC_TAG_YEAR) + Text(IDC_TAG_TRACK), "");

    auto fromTitle = [](const char* text) {
        Set(IDC_TAG_TITLE, text);
        g_tagEditor.OnFromTitle();
        return Text(IDC_TAG_FILENAME);
    };
    EXPECT_EQ(fromTitle("Song"), "Song.mp3");
    EXPECT_EQ(fromTitle("Song.MP3"), "Song.MP3");
    wxTEST_DIALOG(fromTitle(""), ExpectWarning("No Title! "));
    wxTEST_DIALOG(EXPECT_EQ(fromTitle(" x"), "Song.MP3"),
                  ExpectWarning("Invalid Title! \nThe first letter can not be blank."));
    // Over the editor, the window acted in, for Save too.
    Set(IDC_TAG_FILENAME, "song");
    wxTEST_DIALOG(g_tagEditor.OnFromFileName(),
                  ExpectWarning("Invalid file name!\nThe \".mp3\" suffix missed.", Wnd()));
    wxTEST_DIALOG(g_tagEditor.OnSave(), ExpectWarning("Invalid file name!\nThe \".mp3\" suffix missed.", Wnd()));
    EXPECT_EQ(Text(IDC_TAG_TITLE), " x");

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
    EXPECT_EQ(ReadAll(path), Mp3Bytes("Song"));
}

TEST_F(EditorTest, TypedTextIsStoredInTheLocalesCodePage)
{
    ScopedLocale russian("ru_RU.UTF-8");
    const std::string path = Queue("\xCF\xF0\xE8.mp3", Mp3Bytes("Song"));   // a 1251 name
    Open(0);
    EXPECT_EQ(Text(IDC_TAG_FILENAME), "\xD0\x9F\xD1\x80\xD0\xB8.mp3");
    // Typing stops at 30 bytes of Windows-1251: 30 Cyrillic letters.
    wxTextCtrl* title = Edit(IDC_TAG_TITLE);
    title->SetValue("");
    for (int i = 0; i < 31; ++i)
        title->AppendText(wxString::FromUTF8("\xD0\x96"));
    EXPECT_EQ(title->GetValue().length(), 30u);
    Edit(IDC_TAG_ARTIST)->SetValue("");
    Edit(IDC_TAG_ARTIST)->AppendText(wxString::FromUTF8("\xD0\x96 \xE2\x98\x85"));   // Ж ★
    g_tagEditor.OnSave();
    std::string artist = "\xD0\x96 \xE2\x98\x85";
    artist.resize(30, '\0');
    EXPECT_EQ(Tag(path).substr(3, 60), std::string(30, '\xC6') + artist);
    EXPECT_EQ(g_queue.Row(0).path, path);
    g_tagEditor.ShowTag(path);
    std::string letters;
    for (int i = 0; i < 30; ++i)
        letters += "\xD0\x96";
    EXPECT_EQ(Text(IDC_TAG_TITLE), letters);
}

TEST_F(EditorTest, PrevAndNextWrapAroundAndClosingOnlyHides)
{
    for (int i = 0; i < 5; ++i)
        Queue("f" + std::to_string(i) + ".mp3", Mp3Bytes("T" + std::to_string(i)));
    Open(4);
    g_queue.SelectRow(2);
    g_tagEditor.OnNext();
    EXPECT_EQ(g_tagEditor.m_row, 0);
    EXPECT_EQ(Text(IDC_TAG_TITLE), "T0");
    EXPECT_TRUE(g_queue.IsSelected(0) && !g_queue.IsSelected(2) && !g_queue.IsSelected(4));
    g_tagEditor.OnPrev();
    EXPECT_EQ(g_tagEditor.m_row, 4);
    EXPECT_EQ(Text(IDC_TAG_FILENAME), "f4.mp3");
    // A plain click in the queue then leaves the clicked row alone selected.
    wxListCtrl* list = g_queue.GetCtrl();
    wxRect row1;
    list->GetItemRect(1, row1);
    LeftClick(list, row1.GetPosition() + wxPoint(30, row1.height / 2));
    EXPECT_EQ(list->GetSelectedItemCount(), 1);
    EXPECT_TRUE(g_queue.IsSelected(1));
    EXPECT_EQ(g_tagEditor.m_row, 1);
    // A row out of sight comes into view.
    for (int i = 5; i < 60; ++i)
        g_queue.AppendEntry("f.mp3", dir.Path() + "/f" + std::to_string(i) + ".mp3");
    g_tagEditor.m_row = 0;
    g_tagEditor.OnPrev();
    EXPECT_GE(list->GetTopItem() + list->GetCountPerPage(), 60);

    // Return and Escape reach no control; a click ends a directory list drag.
    Flush();   // mapped, as after a person's click
    wxTextCtrl* title = Edit(IDC_TAG_TITLE);
    std::vector<int> seen;
    title->Bind(wxEVT_KEY_DOWN, [&seen](wxKeyEvent& key) { seen.push_back(key.GetKeyCode()); });
    for (int code : {int(WXK_ESCAPE), int(WXK_RETURN), int('A')})
    {
        wxKeyEvent key(wxEVT_KEY_DOWN);
        key.m_keyCode = code;
        key.SetEventObject(title);
        title->GetEventHandler()->ProcessEvent(key);
    }
    EXPECT_EQ(seen, std::vector<int>{'A'});
    wxMouseEvent click(wxEVT_RIGHT_DOWN);
    click.SetEventObject(title);
    g_dirList.m_bDragging = 1;
    title->GetEventHandler()->ProcessEvent(click);
    EXPECT_EQ(g_dirList.m_bDragging, 0);

    Wnd()->Close();
    Flush();
    EXPECT_FALSE(g_tagEditor.IsVisible());
    EXPECT_NE(Wnd(), nullptr);
    EXPECT_EQ(g_tagEditor.m_isOpen, 0);
}

TEST_F(EditorTest, SaveWhilePlayingGoesOnWhereItWasUnderTheNewName)
{
    QueueAudio("song.mp3", 10000);
    Open(0);
    MediaPlayer& p = g_tagEditor.m_player;
    g_tagEditor.OnPlay();
    ASSERT_TRUE(WaitUntil([&] { return g_tagEditor.m_slider->GetMax() > 9000; }));
    p.SeekAndPlay(6000);
    p.TogglePause();   // paused counts as playing

    wxSlider* slider = g_tagEditor.m_slider;
    const int length = slider->GetMax();
    Set(IDC_TAG_FILENAME, "Renamed.mp3");
    g_tagEditor.OnSave();
    EXPECT_EQ(g_queue.GetPath(0), dir.Path() + "/Renamed.mp3");
    EXPECT_EQ(p.m_playing - p.m_paused, 1);
    EXPECT_EQ(slider->GetValue(), 6000);
    EXPECT_EQ(slider->GetMax(), length);
    // Through the restart and the first timer period the thumb stays near
    // that point, never at the far end.
    double farthest = 0;
    const wxLongLong until = wxGetLocalTimeMillis() + MediaPlayer::kTimerPeriod + 500;
    WaitUntil([&] {
        farthest = std::max(farthest, double(slider->GetValue()) / slider->GetMax());
        return wxGetLocalTimeMillis() > until;
    });
    EXPECT_LT(farthest, 0.85);
    // From the start it would pass one second long before reaching 5.5.
    ASSERT_TRUE(WaitUntil([&] { return State(p) == wxMEDIASTATE_PLAYING && Pos(p) > 1000; }));
    EXPECT_GE(Pos(p), 5500);
}

TEST_F(EditorTest, RenamesInTheQueueNeverLeaveTheEditorOnAnotherFile)
{
    // Names edited in place the list's own way; the edit ends as when the
    // box loses the focus.
    wxListCtrl* list = g_queue.GetCtrl();
    auto rename = [list](int row, const char* name) {
        list->EditLabel(row)->SetValue(name);
        list->EndEditLabel(false);
    };
    auto restore = [this] {
        wxIconizeEvent restored(dlg->GetId(), false);
        restored.SetEventObject(dlg);
        dlg->GetEventHandler()->ProcessEvent(restored);
    };
    const std::string a = Queue("a.mp3", Mp3Bytes("A")), b = Queue("b.mp3", Mp3Bytes("B"));
    Open(0);
    rename(0, "tmp.mp3");
    rename(1, "a.mp3");
    rename(0, "b.mp3");
    EXPECT_FALSE(g_tagEditor.IsVisible());
    restore();
    // Back on its row, whose file is now b.mp3, with the caret again in the
    // first field that can be edited; Save writes and renames it.
    Flush();
    EXPECT_EQ(wxWindow::FindFocus(), Edit(IDC_TAG_FILENAME));
    EXPECT_EQ(Text(IDC_TAG_PATH) + "|" + Text(IDC_TAG_TITLE), b + "|A");
    Set(IDC_TAG_TITLE, "A2");
    GtestModalHook noDialog(__FILE__, __LINE__, "no dialog");
    g_tagEditor.OnSave();
    noDialog.CheckUnmetExpectations();
    EXPECT_EQ(ReadAll(a), Mp3Bytes("B"));
    EXPECT_EQ(Tag(b).substr(0, 6), std::string("TAGA2\0", 6));
    EXPECT_EQ(g_queue.Row(0).path, b);

    // Rows removed under the hidden editor close it: it does not come back.
    Queue("c.mp3", Mp3Bytes("C"));
    Open(1);
    rename(2, "d.mp3");
    g_queue.DeselectAll();
    g_queue.SelectRow(0);
    g_queue.RemoveSelected();
    restore();
    EXPECT_FALSE(g_tagEditor.IsVisible());
    EXPECT_EQ(g_tagEditor.m_isOpen, 0);
    EXPECT_TRUE(Exists(dir.Path() + "/d.mp3"));
}
