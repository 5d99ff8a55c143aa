#include "GuiTest.h"
#include "PlayerTestSupport.h"

#include "app/Globals.h"
#include "app/Ids.h"
#include "app/RenamerDlg.h"
#include "editor/TagEditorDlg.h"
#include "queue/QueueList.h"

#include <wx/mediactrl.h>

#include <cstdio>

namespace
{
class PlayerTest : public MainWindowTestBase
{
protected:
    std::string Queue(const std::string& name, int milliseconds)
    {
        const std::string path = WriteAudio(dir, name, milliseconds);
        EXPECT_FALSE(path.empty()) << "needs gst-launch-1.0 and lamemp3enc";
        g_queue.AppendEntry(name, path);
        return path;
    }
    void PlayRow(int row) const
    {
        g_queue.DeselectAll();
        g_queue.SelectRow(row);
        dlg->OnPlayButton();
    }
    void Click(int id) const
    {
        wxCommandEvent click(wxEVT_BUTTON, id);
        dlg->FindWindow(id)->GetEventHandler()->ProcessEvent(click);
    }
    std::string PauseText() const { return dlg->FindWindow(IDC_PAUSE)->GetLabel().utf8_string(); }

    TempDir dir;
};

wxMediaState State(const MediaPlayer& player)
{
    return player.m_hMciWnd ? player.m_hMciWnd->GetState() : wxMEDIASTATE_STOPPED;
}
bool Reaches(const MediaPlayer& player, wxMediaState state)
{
    return WaitUntil([&] { return State(player) == state; });
}
long Pos(const MediaPlayer& player)
{
    return player.m_hMciWnd ? long(player.m_hMciWnd->Tell()) : -1;
}
} // namespace

TEST_F(PlayerTest, PlaysTheFirstSelectedRowPausesResumesAndStops)
{
    for (int i = 0; i < 5; ++i)
        Queue("f" + std::to_string(i) + ".mp3", i == 1 ? 3000 : 6000);
    g_queue.SelectRow(4);
    g_queue.SelectRow(1);
    MediaPlayer& player = dlg->m_player;
    Click(IDC_PLAY);
    ASSERT_TRUE(Reaches(player, wxMEDIASTATE_PLAYING));
    // Row 1 is the three-second file; the slider spans it.
    EXPECT_NEAR(double(player.m_hMciWnd->Length()), 3000.0, 200.0);
    EXPECT_EQ(dlg->m_slider->GetMax(), long(player.m_hMciWnd->Length()));

    Click(IDC_PAUSE);
    EXPECT_EQ(PauseText(), "Resume");
    EXPECT_TRUE(Reaches(player, wxMEDIASTATE_PAUSED));
    Click(IDC_PAUSE);
    EXPECT_EQ(PauseText(), "Pause");
    EXPECT_TRUE(Reaches(player, wxMEDIASTATE_PLAYING));

    // Play while paused starts over, unpaused.
    Click(IDC_PAUSE);
    Click(IDC_PLAY);
    EXPECT_EQ(PauseText(), "Pause");
    EXPECT_EQ(player.m_paused, 0);
    EXPECT_TRUE(Reaches(player, wxMEDIASTATE_PLAYING));

    wxMediaCtrl* device = player.m_hMciWnd;
    Click(IDC_STOP);
    EXPECT_EQ(player.m_playing, 0);
    EXPECT_EQ(player.m_hMciWnd, nullptr);
    EXPECT_TRUE(WaitUntil([&] { return device->GetState() == wxMEDIASTATE_STOPPED; }));
    // Stopped twice, and Pause while idle: nothing happens.
    Click(IDC_STOP);
    Click(IDC_PAUSE);
    EXPECT_EQ(PauseText(), "Pause");
    EXPECT_EQ(dlg->m_slider->GetValue(), 0);
}

TEST_F(PlayerTest, ReleasedSliderSeeksEvenWhilePausedAndSnapsBackWhenIdle)
{
    dlg->m_slider->SetValue(40);
    wxScrollEvent release(wxEVT_SCROLL_THUMBRELEASE, IDC_SLIDER);
    dlg->m_slider->GetEventHandler()->ProcessEvent(release);
    EXPECT_EQ(dlg->m_slider->GetValue(), 0);

    Queue("long.mp3", 10000);
    PlayRow(0);
    MediaPlayer& player = dlg->m_player;
    ASSERT_TRUE(WaitUntil([&] { return dlg->m_slider->GetMax() > 9000; }));
    Click(IDC_PAUSE);
    ASSERT_TRUE(Reaches(player, wxMEDIASTATE_PAUSED));
    ASSERT_LT(Pos(player), 5000);
    // Playback goes on from the thumb, while the button still offers Resume.
    dlg->m_slider->SetValue(7000);
    wxScrollEvent changed(wxEVT_SCROLL_CHANGED, IDC_SLIDER);
    dlg->m_slider->GetEventHandler()->ProcessEvent(changed);
    ASSERT_TRUE(Reaches(player, wxMEDIASTATE_PLAYING));
    EXPECT_GE(Pos(player), 6500);
    EXPECT_EQ(PauseText(), "Resume");
    Click(IDC_PAUSE);   // resumes what plays already
    EXPECT_EQ(PauseText(), "Pause");
    EXPECT_EQ(State(player), wxMEDIASTATE_PLAYING);
}

TEST_F(PlayerTest, AFinishedFileStartsAgain)
{
    Queue("short.mp3", 600);
    PlayRow(0);
    MediaPlayer& player = dlg->m_player;
    ASSERT_TRUE(Reaches(player, wxMEDIASTATE_PLAYING));
    ASSERT_TRUE(Reaches(player, wxMEDIASTATE_STOPPED));
    // The next tick of the timer starts it from the beginning.
    EXPECT_TRUE(Reaches(player, wxMEDIASTATE_PLAYING));
    EXPECT_EQ(player.m_playing, 1);
    EXPECT_FALSE(player.OpenFailed());
}

TEST_F(PlayerTest, MainWindowAndEditorPlayAtOnce)
{
    Queue("a.mp3", 6000);
    Queue("b.mp3", 6000);
    PlayRow(0);
    dlg->OpenTagEditor();
    g_tagEditor.m_row = 1;
    g_tagEditor.OnPlay();
    MediaPlayer& editor = g_tagEditor.m_player;
    ASSERT_TRUE(Reaches(dlg->m_player, wxMEDIASTATE_PLAYING));
    ASSERT_TRUE(Reaches(editor, wxMEDIASTATE_PLAYING));
    EXPECT_NE(dlg->m_player.m_hMciWnd, editor.m_hMciWnd);

    dlg->m_player.StopPlayback();
    EXPECT_EQ(State(editor), wxMEDIASTATE_PLAYING);
    // Closing the editor stops its player.
    g_tagEditor.Close();
    EXPECT_EQ(editor.m_playing, 0);
    EXPECT_EQ(editor.m_hMciWnd, nullptr);
}

TEST_F(PlayerTest, AFileThatCannotBePlayedIsReported)
{
    g_queue.AppendEntry("text.mp3", dir.Write("text.mp3", std::string(4000, 'x')));
    g_queue.AppendEntry("gone.mp3", dir.Path() + "/gone.mp3");
    const std::string odd = Queue("caf\xE9.mp3", 3000);   // a name that is not UTF-8
    MediaPlayer& player = dlg->m_player;
    for (int row : {0, 1})
    {
        const std::string text = "Can't play the file: " + g_queue.GetPath(row);
        wxTEST_DIALOG(PlayRow(row); WaitUntil([&] { return player.OpenFailed(); }),
                      ExpectWarning(wxString::FromUTF8(text)));
        EXPECT_EQ(player.m_playing, 1);   // until Stop, as if it played
    }

    // Deleted while it plays, a file plays on but cannot start again.
    PlayRow(2);
    ASSERT_TRUE(Reaches(player, wxMEDIASTATE_PLAYING));
    ASSERT_EQ(std::remove(odd.c_str()), 0);
    WaitUntil([&] { return Pos(player) > 500; });
    EXPECT_EQ(State(player), wxMEDIASTATE_PLAYING);
    const std::string shown = "Can't play the file: " + dir.Path() + "/caf\xEF\xBF\xBD.mp3";
    wxTEST_DIALOG(PlayRow(2); WaitUntil([&] { return player.OpenFailed(); }),
                  ExpectWarning(wxString::FromUTF8(shown)));
}
