// SPDX-License-Identifier: GPL-3.0-or-later
// The auto-rename mode: its byte in Vov/Vov.dat and the Options dialog.
#include "GuiTest.h"

#include "app/Globals.h"
#include "app/OptionsDlg.h"
#include "app/RenamerDlg.h"
#include "platform/FileSystem.h"

#include <wx/checkbox.h>

#include <fstream>
#include <iterator>
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
