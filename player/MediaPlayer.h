// SPDX-License-Identifier: GPL-3.0-or-later
// Plays one MP3 file at a time for a host window (the main window or the tag
// editor), with Play, Pause/Resume, Stop and a position slider.
#pragma once

#include <functional>
#include <string>

class wxWindow;
class wxSlider;
class wxButton;
class wxTimer;
class wxMediaCtrl;

class MediaPlayer
{
public:
    MediaPlayer() = default;
    MediaPlayer(const MediaPlayer&) = delete;
    MediaPlayer& operator=(const MediaPlayer&) = delete;
    ~MediaPlayer();

    // The host's controls; the timer belongs to the host and carries its id.
    // Attaching another host (or none) forgets the device of the old one.
    void Attach(wxWindow* host, wxSlider* slider, wxButton* pauseButton, wxTimer* timer);
    // Back to idle: no file, not playing, not paused.
    void Reset();
    // How a file that cannot be played is told to the user; without one, the
    // program's warning.
    void SetFailureReporter(std::function<void(const std::string& text)> report);

    // Positions and lengths are milliseconds, on the slider too.
    void PlayFile(const std::string& path);
    void TogglePause();
    void StopPlayback();
    void OnPlayTimer(int timerId);
    void OnSliderReleased();
    int GetSliderPos() const;
    void SeekAndPlay(int pos);

    // True once the file of the last PlayFile turned out unplayable (it has
    // been reported to the user, and the player is idle).
    bool OpenFailed() const { return m_failed; }

    static constexpr int kTimerPeriod = 1500;  // ms
    static constexpr long kEndMargin = 10;     // ms

    // The device while a file is loaded, else null.
    wxMediaCtrl* m_hMciWnd = nullptr;
    int m_playing = 0;
    int m_paused = 0;

private:
    wxMediaCtrl* Device();
    void SetSliderRange(long length);
    void SetSliderPos(long pos);
    void SetPauseText(const char* text);
    void ReportOpenFailure();
    // Seeks the loaded file and plays it from there.
    void SeekTo(long pos);

    wxWindow* m_host = nullptr;
    wxSlider* m_slider = nullptr;
    wxButton* m_pauseButton = nullptr;
    wxTimer* m_timer = nullptr;
    // One hidden media control per host, made on the first play and reused:
    // each GStreamer player made and dropped again would leak a thread.
    wxMediaCtrl* m_device = nullptr;
    std::string m_path;
    bool m_sawPlay = false;   // the device has played since the last (re)start
    long m_pendingSeek = -1;  // a seek to repeat once a new file plays
    bool m_failed = false;
    std::function<void(const std::string&)> m_report;
};
