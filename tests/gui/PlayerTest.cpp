// SPDX-License-Identifier: GPL-3.0-or-later
#include "PlayerTestSupport.h"
#include "ScopedLocale.h"

#include "app/Ids.h"
#include "editor/TagEditorDlg.h"

#include <sys/stat.h>
#include <unistd.h>

namespace
{
class PlayerTest : public QueueTestBase
{
protected:
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
    void ReleaseSlider(int value, wxEventType type) const
    {
        dlg->m_slider->SetValue(value);
        wxScrollEvent release(type, IDC_SLIDER);
        dlg->m_slider->GetEventHandler()->ProcessEvent(release);
    }
    std::string PauseText() const { return dlg->FindWindow(IDC_PAUSE)->GetLabel().utf8_string(); }
};
} // namespace

TEST_F(PlayerTest, PlaysTheFirstSelectedRowPausesSeeksAndStops)
{
    for (int i = 0; i < 3; ++i)
        QueueAudio("f" + std::to_string(i) + ".mp3", i == 1 ? 60000 : 6000);
    g_queue.SelectRow(2);
    g_queue.SelectRow(1);
    MediaPlayer& player = dlg->m_player;
    Click(IDC_PLAY);
    ASSERT_TRUE(Reaches(player, wxMEDIASTATE_PLAYING));
    // Row 1, the one-minute file (it cannot end during the test); the slider spans it.
    EXPECT_NEAR(double(player.m_hMciWnd->Length()), 60000.0, 200.0);
    EXPECT_EQ(dlg->m_slider->GetMax(), long(player.m_hMciWnd->Length()));

    // Play while paused starts over, unpaused.
    const struct { int button; const char* label; wxMediaState state; } steps[] = {
        {IDC_PAUSE, "Resume", wxMEDIASTATE_PAUSED}, {IDC_PAUSE, "Pause", wxMEDIASTATE_PLAYING},
        {IDC_PAUSE, "Resume", wxMEDIASTATE_PAUSED}, {IDC_PLAY, "Pause", wxMEDIASTATE_PLAYING},
        {IDC_PAUSE, "Resume", wxMEDIASTATE_PAUSED}};
    for (const auto& step : steps)
    {
        Click(step.button);
        EXPECT_EQ(PauseText(), step.label);
        EXPECT_TRUE(Reaches(player, step.state));
    }
    // Released while paused, the slider plays on from the thumb; Resume stays.
    ReleaseSlider(7000, wxEVT_SCROLL_CHANGED);
    ASSERT_TRUE(Reaches(player, wxMEDIASTATE_PLAYING));
    EXPECT_GE(Pos(player), 6500);
    EXPECT_EQ(PauseText(), "Resume");
    wxMediaCtrl* device = player.m_hMciWnd;
    Click(IDC_STOP);
    EXPECT_EQ(player.m_playing + player.m_paused, 0);
    EXPECT_EQ(player.m_hMciWnd, nullptr);
    EXPECT_TRUE(WaitUntil([&] { return device->GetState() == wxMEDIASTATE_STOPPED; }));
    // Idle, Stop, Pause and the slider do nothing.
    Click(IDC_STOP);
    Click(IDC_PAUSE);
    EXPECT_EQ(PauseText(), "Pause");
    ReleaseSlider(40, wxEVT_SCROLL_THUMBRELEASE);
    EXPECT_EQ(dlg->m_slider->GetValue(), 0);
}

TEST_F(PlayerTest, MainWindowAndEditorPlayAtOnceAndAFinishedFileStartsAgain)
{
    QueueAudio("short.mp3", 600);
    QueueAudio("long.mp3", 6000);
    PlayRow(0);
    dlg->OpenTagEditor();
    g_tagEditor.m_row = 1;
    g_tagEditor.OnPlay();
    MediaPlayer& main = dlg->m_player;
    MediaPlayer& editor = g_tagEditor.m_player;
    ASSERT_TRUE(Reaches(main, wxMEDIASTATE_PLAYING));
    ASSERT_TRUE(Reaches(editor, wxMEDIASTATE_PLAYING));
    // The timer's next tick starts the finished file from the beginning.
    ASSERT_TRUE(Reaches(main, wxMEDIASTATE_STOPPED));
    EXPECT_TRUE(Reaches(main, wxMEDIASTATE_PLAYING));

    main.StopPlayback();
    EXPECT_EQ(State(editor), wxMEDIASTATE_PLAYING);
    g_tagEditor.Close();
    EXPECT_EQ(editor.m_playing, 0);
    EXPECT_EQ(editor.m_hMciWnd, nullptr);
}

TEST_F(PlayerTest, AFileThatCannotBePlayedIsReportedAndLeavesThePlayerIdle)
{
    // A back end stuck opening the FIFO would hang the suite: end it instead.
    alarm(90);
    const std::string fifo = dir.Path() + "/fifo.mp3";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    g_queue.AppendEntry("fifo.mp3", fifo);
    Queue("text.mp3", std::string(4000, 'x'));
    g_queue.AppendEntry("gone.mp3", dir.Path() + "/gone.mp3");
    const std::string odd = QueueAudio("caf\xE9.mp3", 3000);   // a name that is not UTF-8
    ScopedLocale unset(nullptr);
    MediaPlayer& player = dlg->m_player;
    auto playFails = [&](int row, const std::string& shown) {
        wxTEST_DIALOG(PlayRow(row); WaitUntil([&] { return player.OpenFailed(); }),
                      ExpectWarning(wxString::FromUTF8("Can't play the file: " + shown)));
        EXPECT_EQ(player.m_playing, 0);   // nothing left to restart
    };
    // Anything but a regular file is refused at once, by both players.
    wxTEST_DIALOG(PlayRow(0), ExpectWarning(wxString::FromUTF8("Can't play the file: " + fifo)));
    EXPECT_EQ(player.m_playing, 0);
    dlg->OpenTagEditor();
    wxTEST_DIALOG(g_tagEditor.OnPlay(),
                  ExpectWarning(wxString::FromUTF8("Can't play the file: " + fifo)));
    EXPECT_EQ(g_tagEditor.m_player.m_playing, 0);
    for (int row : {1, 2})
        playFails(row, g_queue.GetPath(row));

    // Deleted while it plays, a file plays on but cannot start again.
    PlayRow(3);
    ASSERT_TRUE(Reaches(player, wxMEDIASTATE_PLAYING));
    ASSERT_EQ(unlink(odd.c_str()), 0);
    WaitUntil([&] { return Pos(player) > 500; });
    EXPECT_EQ(State(player), wxMEDIASTATE_PLAYING);
    playFails(3, dir.Path() + "/caf\xC3\xA9.mp3");   // shown in Windows-1252
    alarm(0);
}
