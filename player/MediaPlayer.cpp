#include "player/MediaPlayer.h"

#include <wx/button.h>
#include <wx/mediactrl.h>
#include <wx/slider.h>
#include <wx/timer.h>

MediaPlayer::~MediaPlayer() = default;

void MediaPlayer::Attach(wxWindow* host, wxSlider* slider, wxButton* pauseButton, wxTimer* timer)
{
    m_host = host;
    m_slider = slider;
    m_pauseButton = pauseButton;
    m_timer = timer;
}

void MediaPlayer::Reset()
{
    m_hMciWnd = nullptr;
    m_playing = 0;
    m_paused = 0;
}

// Playback itself comes with the player window; until then the commands keep
// the state consistent and touch no file.
void MediaPlayer::PlayFile(const std::string& path)
{
    (void)path;
}

void MediaPlayer::TogglePause()
{
}

void MediaPlayer::StopPlayback()
{
    if (m_timer)
        m_timer->Stop();
    m_playing = 0;
    m_paused = 0;
}

void MediaPlayer::OnPlayTimer(int timerId)
{
    (void)timerId;
}

void MediaPlayer::OnSliderReleased()
{
}

int MediaPlayer::GetSliderPos() const
{
    return m_slider ? m_slider->GetValue() : 0;
}

void MediaPlayer::SeekAndPlay(int pos)
{
    if (m_slider)
        m_slider->SetValue(pos);
}
