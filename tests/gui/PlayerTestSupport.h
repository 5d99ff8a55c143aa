// SPDX-License-Identifier: GPL-3.0-or-later
// Queued files, real MP3 audio, and waiting for the player's asynchronous
// back end, for the player and editor tests.
#pragma once

#include "GuiTest.h"
#include "app/Globals.h"
#include "app/RenamerDlg.h"
#include "player/MediaPlayer.h"
#include "queue/QueueList.h"

#include <wx/mediactrl.h>

#include <functional>
#include <string>

// MP3 audio of about this length, encoded once per length with GStreamer;
// "" without an encoder.
std::string AudioBytes(int milliseconds);
// Runs the event loop until done() holds; the time-out only ends a hang.
bool WaitUntil(const std::function<bool()>& done, int timeoutMs = 20000);
std::string ReadAll(const std::string& path);

// The loaded file's state and position; stopped and -1 with none loaded.
inline wxMediaState State(const MediaPlayer& p)
{
    return p.m_hMciWnd ? p.m_hMciWnd->GetState() : wxMEDIASTATE_STOPPED;
}
inline long Pos(const MediaPlayer& p) { return p.m_hMciWnd ? long(p.m_hMciWnd->Tell()) : -1; }
inline bool Reaches(const MediaPlayer& p, wxMediaState s)
{
    return WaitUntil([&] { return State(p) == s; });
}

// The main window with a queue of files written under dir.
class QueueTestBase : public MainWindowTestBase
{
protected:
    std::string Queue(const std::string& name, const std::string& bytes)
    {
        const std::string path = dir.Write(name, bytes);
        g_queue.AppendEntry(name, path);
        return path;
    }
    std::string QueueAudio(const std::string& name, int milliseconds)
    {
        const std::string audio = AudioBytes(milliseconds);
        EXPECT_FALSE(audio.empty()) << "needs gst-launch-1.0 and lamemp3enc";
        return Queue(name, audio);
    }

    TempDir dir;
};
