// Plays one MP3 file at a time for a host window (the main window or the tag
// editor), with Play, Pause/Resume, Stop and a position slider.
#pragma once

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
    void Attach(wxWindow* host, wxSlider* slider, wxButton* pauseButton, wxTimer* timer);
    // Back to idle: no file, not playing, not paused.
    void Reset();

    void PlayFile(const std::string& path);
    void TogglePause();
    void StopPlayback();
    void OnPlayTimer(int timerId);
    void OnSliderReleased();
    int GetSliderPos() const;
    void SeekAndPlay(int pos);

    wxMediaCtrl* m_hMciWnd = nullptr;
    int m_playing = 0;
    int m_paused = 0;

private:
    wxWindow* m_host = nullptr;
    wxSlider* m_slider = nullptr;
    wxButton* m_pauseButton = nullptr;
    wxTimer* m_timer = nullptr;
};
