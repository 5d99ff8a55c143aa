// SPDX-License-Identifier: GPL-3.0-or-later
// The auto-rename mode: its byte in Vov/Vov.dat and the Options dialog.
#include "GuiTest.h"

#include "app/Globals.h"
#include "app/OptionsDlg.h"
#include "app/RenamerDlg.h"
#include "RunProgram.h"
#include "app/Ids.h"
#include "core/TagFile.h"
#include "platform/FileSystem.h"
#include "queue/QueueList.h"

#include <wx/checkbox.h>
#include <wx/radiobut.h>
#include <wx/uiaction.h>

#include <fstream>
#include <iterator>
#include <map>
#include <sys/stat.h>
#include <unistd.h>

namespace
{
std::string ReadAll(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

bool Exists(const std::string& path) { return access(path.c_str(), F_OK) == 0; }

// Bytes that differ from place to place, so a shifted or rewritten byte shows;
// mode at the settings offset when the file reaches it.
std::string Bytes(long size, char mode = '\0')
{
    std::string bytes;
    for (long i = 0; i < size; ++i)
        bytes += i == kSettingsOffset ? mode : static_cast<char>((i * 7 + 3) % 251);
    return bytes;
}

bool g_shownChecked = false;
bool g_shownFromId3v2 = false;

// Answers the Options dialog: notes whether the box came up checked, sets it
// and presses the key; the dialog ends with the button the key clicks.
struct ExpectOptions : wxExpectModalBase<COptionsWindow, ExpectOptions>
{
    ExpectOptions(int k, bool b) : key(k), box(b) {}
    int OnInvoked(COptionsWindow* dlg) const override
    {
        g_shownChecked = dlg->m_withArtist->IsChecked();
        dlg->m_withArtist->SetValue(box);
        static int ended;   // static: the handler may outlive this call
        ended = wxID_NONE;
        dlg->Bind(wxEVT_BUTTON, [](wxCommandEvent& clicked) { ended = clicked.GetId(); });
        wxKeyEvent press(wxEVT_CHAR_HOOK);
        press.m_keyCode = key;
        press.SetEventObject(dlg->m_withArtist);
        dlg->ProcessWindowEvent(press);
        EXPECT_NE(ended, wxID_NONE) << "the key ended nothing";
        return ended;
    }
    int key;
    bool box;
};

// Answers the Options dialog as a person does: shown, it notes the tag
// choice it came up with and clicks the controls with the pointer, then OK.
struct ClickOptions : wxExpectModalBase<COptionsWindow, ClickOptions>
{
    explicit ClickOptions(std::vector<int> c) : clicks(std::move(c)) {}
    int OnInvoked(COptionsWindow* dlg) const override
    {
        dlg->Show();
        Flush();
        g_shownFromId3v2 = dlg->m_fromId3v2->GetValue();
        EXPECT_NE(dlg->m_fromId3v1->GetValue(), g_shownFromId3v2);
        static int ended;
        ended = wxID_NONE;
        dlg->Bind(wxEVT_BUTTON, [](wxCommandEvent& clicked) { ended = clicked.GetId(); });
        for (const int id : clicks)
            Press(dlg, id);
        Press(dlg, wxID_OK);
        dlg->Hide();
        EXPECT_EQ(ended, wxID_OK);
        return ended;
    }
    std::vector<int> clicks;
};

constexpr int kWithArtist = 1058, kFromId3v1 = 1059, kFromId3v2 = 1060;

// An ID3v2.3 tag of Latin-1 text frames, by hand.
std::string Id3v2(const std::vector<std::pair<std::string, std::string>>& frames)
{
    std::string body;
    for (const auto& [id, text] : frames) {
        const size_t n = text.size() + 1;
        body += id + std::string{0, 0, static_cast<char>(n >> 8), static_cast<char>(n)} + std::string(3, '\0') + text;
    }
    const size_t n = body.size();
    return "ID3" + std::string{3, 0, 0, 0, 0, static_cast<char>(n >> 7 & 0x7F), static_cast<char>(n & 0x7F)} + body;
}

// Works on the test program's own Vov/Vov.dat, one found there moved aside
// and back. The main window opens over a file saying '0'.
class OptionsTest : public MainWindowTestBase
{
protected:
    void SetUp() override
    {
        folder = ProgramDirectory() + "Vov";
        path = SettingsFilePath();
        ASSERT_EQ(path, folder + "/Vov.dat");
        m_madeFolder = mkdir(folder.c_str(), 0755) == 0;
        m_movedAside = rename(path.c_str(), (path + ".kept").c_str()) == 0;
        Write(Bytes(12001, '0'));
        g_optionsDlg.m_bWithArtist = 1;
        MainWindowTestBase::SetUp();
    }
    void TearDown() override
    {
        MainWindowTestBase::TearDown();
        unlink(path.c_str());
        if (m_movedAside)
            rename((path + ".kept").c_str(), path.c_str());
        if (m_madeFolder)
            rmdir(folder.c_str());
    }

    void Write(const std::string& bytes) const { std::ofstream(path, std::ios::binary) << bytes; }
    // The main window's "Option" button; returns whether the box came up
    // checked. wxTEST_DIALOG fails on any message box besides the dialog.
    bool PressOption(int key, bool box)
    {
        wxTEST_DIALOG(dlg->OnOption(), ExpectOptions(key, box));
        return g_shownChecked;
    }

    std::string folder, path;
    bool m_madeFolder = false, m_movedAside = false;
};
} // namespace

TEST_F(OptionsTest, OnlyAZeroCharacterAtItsOffsetTurnsTheArtistOff)
{
    EXPECT_EQ(g_optionsDlg.m_bWithArtist, 0) << "read at start-up";
    const struct { const char* what; std::string bytes; int mode; } cases[] = {
        {"no file", "", 1},
        {"too short", Bytes(500), 1},
        {"ends just before the byte", Bytes(12000), 1},
        {"'0'", Bytes(12001, '0'), 0},
        {"'0' in a longer file", Bytes(30000, '0'), 0},
        {"'1'", Bytes(12001, '1'), 1},
        {"'x'", Bytes(12001, 'x'), 1},
        {"a zero byte", Bytes(12001), 1},
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.what);
        unlink(path.c_str());
        if (!c.bytes.empty())
            Write(c.bytes);
        g_optionsDlg.m_bWithArtist = 7;
        g_optionsDlg.LoadSettings();
        EXPECT_EQ(g_optionsDlg.m_bWithArtist, c.mode);
        EXPECT_EQ(ReadAll(path), c.bytes);
        EXPECT_EQ(Exists(path), !c.bytes.empty());
    }
}

TEST_F(OptionsTest, ReturnWritesOnlyTheModeByteOfAnExistingFileEscapeNothing)
{
    Write(Bytes(20000, '0'));
    EXPECT_FALSE(PressOption(WXK_RETURN, true));
    EXPECT_EQ(g_optionsDlg.m_bWithArtist, 1);
    EXPECT_EQ(ReadAll(path), Bytes(20000, '1'));
    EXPECT_TRUE(PressOption(WXK_ESCAPE, false));
    EXPECT_EQ(g_optionsDlg.m_bWithArtist, 1);
    EXPECT_EQ(ReadAll(path), Bytes(20000, '1'));

    // A short file grows to hold the byte; the gap reads as zero bytes.
    Write(Bytes(500));
    PressOption(WXK_RETURN, false);
    EXPECT_EQ(g_optionsDlg.m_bWithArtist, 0);
    EXPECT_EQ(ReadAll(path), Bytes(500) + std::string(12000 - 500, '\0') + "0");

    // Silently, and no file is created or followed.
    unlink(path.c_str());
    PressOption(WXK_RETURN, true);
    EXPECT_EQ(g_optionsDlg.m_bWithArtist, 1);
    EXPECT_FALSE(Exists(path));
    ASSERT_EQ(symlink("elsewhere.dat", path.c_str()), 0);
    PressOption(WXK_RETURN, false);
    EXPECT_FALSE(Exists(folder + "/elsewhere.dat"));
    unlink(path.c_str());

    // A pipe nobody reads is refused, and nothing waits on it.
    ASSERT_EQ(mkfifo(path.c_str(), 0644), 0);
    PressOption(WXK_RETURN, false);
    g_optionsDlg.LoadSettings();
    EXPECT_EQ(g_optionsDlg.m_bWithArtist, 1);
    unlink(path.c_str());
}

TEST_F(OptionsTest, OkLeavesASettingsFileItCannotWriteAsItWas)
{
    if (geteuid() == 0)
        GTEST_SKIP() << "root writes a read-only file anyway; scripts/unprivileged.sh runs this "
                        "as an ordinary user";
    Write(Bytes(12001, '1'));
    ASSERT_EQ(chmod(path.c_str(), 0444), 0);
    PressOption(WXK_RETURN, false);
    EXPECT_EQ(ReadAll(path), Bytes(12001, '1'));
}

TEST_F(OptionsTest, TheId3v2ChoiceIsKeptAfterTheModeAndNamesFilesAsTheToolDoes)
{
    // The byte after the mode: only '1' says ID3v2, so every older file says ID3v1.
    const struct { const char* what; std::string bytes; int fromId3v2; } cases[] = {
        {"no file", "", 0}, {"ends at the mode", Bytes(12001, '1'), 0}, {"'1'", Bytes(12001, '0') + "1", 1},
        {"'0'", Bytes(12001, '0') + "0", 0}, {"'x'", Bytes(12001, '0') + "x", 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        unlink(path.c_str());
        if (!c.bytes.empty())
            Write(c.bytes);
        g_optionsDlg.m_bFromId3v2 = 7;
        g_optionsDlg.LoadSettings();
        EXPECT_EQ(g_optionsDlg.m_bFromId3v2, c.fromId3v2);
    }

    TempDir dir;
    const std::string audio = Mp3Bytes("");
    const std::string onlyV2 = dir.Write("a.mp3", Id3v2({{"TIT2", "Only Two"}, {"TPE1", "Band"}}) + audio);
    const std::string both = dir.Write("b.mp3", Id3v2({{"TIT2", "From ID3v2"}}) + Mp3Bytes("From ID3v1"));
    const std::string blankV2 = dir.Write("c.mp3", Id3v2({{"TIT2", "   "}}) + Mp3Bytes("Old Title", "Old Band"));
    const std::string blankV1 = dir.Write("d.mp3", Mp3Bytes(std::string(30, ' '), "Artist"));
    const std::vector<std::string> files{onlyV2, both, blankV2, blankV1};
    const auto renameAll = [&files] {
        g_queue.DropFiles(files);
        g_queue.SelectAll();
        g_queue.AutoRenameSelected();
    };
    const auto undoAll = [&files] {
        g_queue.SelectAll();
        g_queue.UndoSelected();
        for (const std::string& file : files)
            EXPECT_TRUE(g_queue.IsQueued(file)) << file;
        g_queue.SelectAll();
        g_queue.RemoveSelected();
    };
    const auto states = [] {
        std::vector<std::string> seen;
        for (int i = 0; i < g_queue.GetCount(); ++i)
            seen.push_back(g_queue.Row(static_cast<size_t>(i)).state == kStateSuccessful ? g_queue.GetName(i)
                                                                                       : g_queue.Row(static_cast<size_t>(i)).state);
        return seen;
    };
    const std::string notFound = "Failed, Song name not found! ";

    // ID3v1, the default: a file with only an ID3v2 tag says where to choose it.
    Write(Bytes(12001, '0'));
    g_optionsDlg.LoadSettings();
    renameAll();
    EXPECT_EQ(states(), (std::vector<std::string>{notFound, "From ID3v1.mp3", "Old Title.mp3", notFound}));
    const auto hover = [](int row) {
        wxRect cell;
        EXPECT_TRUE(g_queue.GetCtrl()->GetSubItemRect(row, COL_STATE, cell));
        wxUIActionSimulator mouse;
        mouse.MouseMove(g_queue.GetCtrl()->ClientToScreen(cell.GetPosition() + wxPoint(10, 3)));
        Flush();
        return g_queue.GetCtrl()->GetRowsWindow()->GetToolTipText().utf8_string();
    };
    EXPECT_EQ(hover(0), notFound + "\nThis file has no ID3v1 tag but an ID3v2 tag. To name files after their ID3v2 "
                                   "tag, press \"Option\" and choose \"the ID3v2 tag where there is one\".");
    EXPECT_EQ(hover(3), notFound) << "no ID3v2 tag: nothing to choose";
    undoAll();

    // Chosen with the pointer, with the artist: kept in the byte after the mode.
    wxTEST_DIALOG(dlg->OnOption(), ClickOptions({kWithArtist, kFromId3v2}));
    EXPECT_FALSE(g_shownFromId3v2);
    EXPECT_EQ(ReadAll(path), Bytes(12001, '1') + "1");
    const ProgramResult tool = RunProgram(RENAME_EXE, {"--tag", "any", "-a", "-n", "--tsv", dir.Path()}, "", {},
                                          dir.Path() + "/.out", dir.Path() + "/.err");
    std::map<std::string, std::string> toolNames;
    for (size_t start = 0, end; (end = tool.out.find('\n', start)) != std::string::npos; start = end + 1) {
        const std::string line = tool.out.substr(start, end - start);
        const size_t tab1 = line.find('\t'), tab2 = line.find('\t', tab1 + 1), tab3 = line.find('\t', tab2 + 1);
        toolNames[line.substr(tab1 + 1, tab2 - tab1 - 1)] =
            line.compare(0, tab1, "Successful") == 0 ? line.substr(tab2 + 1, tab3 - tab2 - 1) : line.substr(0, tab1);
    }
    renameAll();
    std::map<std::string, std::string> windowNames;
    for (size_t i = 0; i < files.size(); ++i)
        windowNames[files[i]] = states()[i];
    EXPECT_EQ(windowNames, toolNames);
    EXPECT_EQ(states(), (std::vector<std::string>{"Band - Only Two.mp3", "From ID3v2.mp3", "Old Band - Old Title.mp3",
                                                  notFound}));
    EXPECT_EQ(hover(3), notFound);
    undoAll();

    // Back to ID3v1: the byte says so again, and the next start reads it.
    wxTEST_DIALOG(dlg->OnOption(), ClickOptions({kFromId3v1}));
    EXPECT_TRUE(g_shownFromId3v2);
    EXPECT_EQ(ReadAll(path), Bytes(12001, '1') + "0");
    g_optionsDlg.LoadSettings();
    EXPECT_EQ(g_optionsDlg.m_bFromId3v2, 0);
}
