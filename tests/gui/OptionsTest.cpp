// The auto-rename mode: its byte in Vov/Vov.dat and the Options dialog.
#include "GuiTest.h"

#include "app/Globals.h"
#include "app/OptionsDlg.h"
#include "app/RenamerDlg.h"
#include "platform/FileSystem.h"

#include <wx/app.h>
#include <wx/checkbox.h>

#include <fstream>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace
{
std::string ReadAll(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

bool Exists(const std::string& path)
{
    struct stat st;
    return lstat(path.c_str(), &st) == 0;
}

std::string CurrentDirectory()
{
    char buffer[4096];
    return getcwd(buffer, sizeof buffer) ? buffer : "";
}

// Bytes that differ from place to place, so a shifted or rewritten byte shows;
// mode, when given, at the settings offset.
std::string Bytes(size_t size, char mode = 0)
{
    std::string bytes(size, '\0');
    for (size_t i = 0; i < size; ++i)
        bytes[i] = static_cast<char>((i * 7 + 3) % 251);
    if (mode && size > static_cast<size_t>(kSettingsOffset))
        bytes[static_cast<size_t>(kSettingsOffset)] = mode;
    return bytes;
}

constexpr int kLeave = -1;

// Answers the Options dialog: notes whether the box came up checked, sets it
// (unless told to leave it) and ends with the given button.
struct ExpectOptions : wxExpectModalBase<COptionsWindow, ExpectOptions>
{
    ExpectOptions(int r, int box, bool* shown) : result(r), setBox(box), shownChecked(shown) {}
    int OnInvoked(COptionsWindow* dlg) const override
    {
        *shownChecked = dlg->m_withArtist->IsChecked();
        if (setBox != kLeave)
            dlg->m_withArtist->SetValue(setBox != 0);
        return result;
    }
    int result, setBox;
    bool* shownChecked;
};

// Works on the test program's own Vov/Vov.dat: each test starts without one;
// one found there is moved aside and back.
class OptionsTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        folder = ProgramDirectory() + "Vov";
        path = SettingsFilePath();
        ASSERT_EQ(path, folder + "/Vov.dat");
        m_madeFolder = mkdir(folder.c_str(), 0755) == 0;
        m_movedAside = rename(path.c_str(), (path + ".kept").c_str()) == 0;
        cwd = CurrentDirectory();
    }
    void TearDown() override
    {
        delete dlg;
        Flush();
        EXPECT_EQ(CurrentDirectory(), cwd);
        unlink(path.c_str());
        if (m_movedAside)
            rename((path + ".kept").c_str(), path.c_str());
        if (m_madeFolder)
            rmdir(folder.c_str());
    }

    void OpenMainWindow()
    {
        dlg = new CRenamerDlg(nullptr);
        dlg->Show();
        Flush();
    }
    void WriteSettings(const std::string& bytes) const
    {
        std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
    }
    // The main window's "Option" button; returns whether the box came up checked.
    bool PressOption(int result, int setBox)
    {
        bool shownChecked = false;
        wxTEST_DIALOG(dlg->OnOption(), ExpectOptions(result, setBox, &shownChecked));
        return shownChecked;
    }

    CRenamerDlg* dlg = nullptr;
    std::string folder, path, cwd;

private:
    bool m_madeFolder = false;
    bool m_movedAside = false;
};
} // namespace

TEST_F(OptionsTest, OnlyAZeroCharacterAtItsOffsetTurnsTheArtistOff)
{
    struct Case
    {
        const char* what;
        std::string bytes;   // empty: no file
        int mode;
    };
    const std::vector<Case> cases = {
        {"no file", "", 1},
        {"too short", Bytes(500), 1},
        {"ends just before the byte", Bytes(12000), 1},
        {"'0'", Bytes(12001, '0'), 0},
        {"'0' in a longer file", Bytes(30000, '0'), 0},
        {"'1'", Bytes(12001, '1'), 1},
        {"'x'", Bytes(12001, 'x'), 1},
        {"a zero byte", Bytes(12001, '\0'), 1},
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE(c.what);
        unlink(path.c_str());
        if (!c.bytes.empty())
            WriteSettings(c.bytes);
        g_optionsDlg.m_bWithArtist = 7;
        g_optionsDlg.LoadSettings();
        EXPECT_EQ(g_optionsDlg.m_bWithArtist, c.mode);
        EXPECT_EQ(ReadAll(path), c.bytes);
        EXPECT_EQ(Exists(path), !c.bytes.empty());
    }
    // Start-up reads it too.
    WriteSettings(Bytes(12001, '0'));
    g_optionsDlg.m_bWithArtist = 1;
    OpenMainWindow();
    EXPECT_EQ(g_optionsDlg.m_bWithArtist, 0);
}

TEST_F(OptionsTest, OkWritesTheOneByteAndCancelNothing)
{
    const std::string original = Bytes(20000, '1');
    WriteSettings(original);
    OpenMainWindow();
    EXPECT_TRUE(PressOption(wxID_OK, 0));
    EXPECT_EQ(g_optionsDlg.m_bWithArtist, 0);
    EXPECT_EQ(ReadAll(path), Bytes(20000, '0'));

    EXPECT_FALSE(PressOption(wxID_CANCEL, 1));
    EXPECT_EQ(g_optionsDlg.m_bWithArtist, 0);
    EXPECT_EQ(ReadAll(path), Bytes(20000, '0'));

    // A short file grows to hold the byte; the gap reads as zero bytes.
    WriteSettings(Bytes(500));
    PressOption(wxID_OK, 1);
    EXPECT_EQ(ReadAll(path), Bytes(500) + std::string(12000 - 500, '\0') + "1");
}

TEST_F(OptionsTest, WithoutAWritableFileOkStillAppliesTheModeSilently)
{
    OpenMainWindow();
    // Each wxTEST_DIALOG fails on any message box besides the dialog.
    PressOption(wxID_OK, 0);
    EXPECT_EQ(g_optionsDlg.m_bWithArtist, 0);
    EXPECT_FALSE(Exists(path)) << "no file is created";

    // A link to nothing: following it must not create the target.
    ASSERT_EQ(symlink("elsewhere.dat", path.c_str()), 0);
    PressOption(wxID_OK, 1);
    EXPECT_EQ(g_optionsDlg.m_bWithArtist, 1);
    EXPECT_FALSE(Exists(folder + "/elsewhere.dat"));
    unlink(path.c_str());

    // A pipe nobody reads: refused, and nothing waits on it.
    ASSERT_EQ(mkfifo(path.c_str(), 0644), 0);
    PressOption(wxID_OK, 0);
    EXPECT_EQ(g_optionsDlg.m_bWithArtist, 0);
    g_optionsDlg.LoadSettings();
    EXPECT_EQ(g_optionsDlg.m_bWithArtist, 1);
    unlink(path.c_str());

    // A read-only file (only when the tests run without the privilege to
    // write it anyway).
    WriteSettings(Bytes(12001, '1'));
    chmod(path.c_str(), 0444);
    if (access(path.c_str(), W_OK) != 0)
    {
        PressOption(wxID_OK, 0);
        EXPECT_EQ(g_optionsDlg.m_bWithArtist, 0);
        EXPECT_EQ(ReadAll(path), Bytes(12001, '1'));
    }
}

TEST_F(OptionsTest, ReturnMeansOkAndEscapeMeansCancel)
{
    WriteSettings(Bytes(12001, '1'));
    OpenMainWindow();
    // Unchecks the box in the running dialog and presses the key; notes
    // whether that ended the dialog (else ends it, so the test goes on).
    auto press = [this](int code) {
        bool closed = false;
        wxTheApp->CallAfter([code, &closed] {
            COptionsWindow* options = nullptr;
            for (wxWindow* win : wxTopLevelWindows)
            {
                if (auto* found = dynamic_cast<COptionsWindow*>(win))
                    options = found;
            }
            ASSERT_TRUE(options && options->IsModal());
            options->m_withArtist->SetValue(false);
            wxKeyEvent key(wxEVT_CHAR_HOOK);
            key.m_keyCode = code;
            key.SetEventObject(options->m_withArtist);
            options->GetEventHandler()->ProcessEvent(key);
            closed = !options->IsModal();
            if (!closed)
                options->EndModal(wxID_ABORT);
        });
        dlg->OnOption();
        Flush();
        return closed;
    };
    EXPECT_TRUE(press(WXK_ESCAPE));
    EXPECT_EQ(g_optionsDlg.m_bWithArtist, 1);
    EXPECT_EQ(ReadAll(path), Bytes(12001, '1'));

    EXPECT_TRUE(press(WXK_RETURN));
    EXPECT_EQ(g_optionsDlg.m_bWithArtist, 0);
    EXPECT_EQ(ReadAll(path), Bytes(12001, '0'));
}
