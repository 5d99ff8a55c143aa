// SPDX-License-Identifier: GPL-3.0-or-later
#include "player/MediaPlayer.h"

#include "app/Display.h"
#include "app/TextFit.h"
#include "core/TextCodec.h"
#include "core/Translate.h"
#include "core/Warning.h"

#include <wx/button.h>
#include <wx/mediactrl.h>
#include <wx/slider.h>
#include <wx/timer.h>

#include <algorithm>
#include <climits>
#include <sys/stat.h>

namespace
{
// A file URI for any byte path: every byte but the unreserved ones and '/' is
// escaped, so names that are not UTF-8 reach the file system unchanged.
wxString FileUri(const std::string& path)
{
    static const char kHex[] = "0123456789ABCDEF";
    std::string uri = "file://";
    if (path.empty() || path[0] != '/')
        uri += '/';
    for (const char c : path)
    {
        const auto b = static_cast<unsigned char>(c);
        const bool plain = (b >= 'a' && b <= 'z') || (b >= 'A' && b <= 'Z') ||
                           (b >= '0' && b <= '9') || b == '-' || b == '.' || b == '_' ||
                           b == '~' || b == '/';
        if (plain)
        {
            uri += c;
        }
        else
        {
            uri += '%';
            uri += kHex[b >> 4];
            uri += kHex[b & 0x0F];
        }
    }
    return wxString::FromAscii(uri.c_str());
}

// Only a regular file is handed to the back end: opening a FIFO or a device
// would block its thread, and with it the next position query here.
bool IsRegularFile(const std::string& path)
{
    struct stat st;
    return !path.empty() && path.find('\0') == std::string::npos &&
           stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

int ToSliderUnits(long value)
{
    return static_cast<int>(std::clamp<long>(value, 0, INT_MAX));
}
} // namespace

MediaPlayer::~MediaPlayer()
{
    // The device normally goes with its host; a host that outlives us must
    // not keep a device that calls back into this object.
    if (m_device)
        m_device->Destroy();
}

void MediaPlayer::Attach(wxWindow* host, wxSlider* slider, wxButton* pauseButton, wxTimer* timer)
{
    if (host != m_host && m_device)
    {
        m_device->Stop();
        m_device = nullptr;
        m_hMciWnd = nullptr;
    }
    m_host = host;
    m_slider = slider;
    m_pauseButton = pauseButton;
    m_timer = timer;
}

void MediaPlayer::SetFailureReporter(std::function<void(const std::string&)> report)
{
    m_report = std::move(report);
}

void MediaPlayer::Reset()
{
    if (m_hMciWnd)
        m_hMciWnd->Stop();
    m_hMciWnd = nullptr;
    m_playing = 0;
    m_paused = 0;
}

wxMediaCtrl* MediaPlayer::Device()
{
    if (m_device || !m_host)
        return m_device;
    auto* ctrl = new wxMediaCtrl();
    // Never shown: it plays sound only.
    ctrl->Hide();
    if (!ctrl->Create(m_host, wxID_ANY, wxString(), wxDefaultPosition, wxSize(1, 1),
                      wxBORDER_NONE, wxMEDIABACKEND_GSTREAMER))
    {
        ctrl->Destroy();
        return nullptr;
    }
    ctrl->Bind(wxEVT_MEDIA_PLAY, [this](wxMediaEvent& event) {
        m_sawPlay = true;
        if (m_hMciWnd && m_pendingSeek >= 0)
            m_hMciWnd->Seek(m_pendingSeek);
        m_pendingSeek = -1;
        // The length is known once the device plays, often not before.
        if (m_hMciWnd && m_hMciWnd->Length() > 0)
            SetSliderRange(static_cast<long>(m_hMciWnd->Length()));
        event.Skip();
    });
    ctrl->Bind(wxEVT_DESTROY, [this, ctrl](wxWindowDestroyEvent& event) {
        if (event.GetEventObject() == ctrl && m_device == ctrl)
        {
            m_device = nullptr;
            m_hMciWnd = nullptr;
        }
        event.Skip();
    });
    m_device = ctrl;
    return m_device;
}

void MediaPlayer::SetSliderRange(long length)
{
    if (!m_slider)
        return;
    // The slider needs a range of at least one step.
    const int max = std::max(1, ToSliderUnits(length));
    if (max != m_slider->GetMax())
        m_slider->SetRange(0, max);
}

void MediaPlayer::SetSliderPos(long pos)
{
    if (m_slider)
        m_slider->SetValue(ToSliderUnits(pos));
}

void MediaPlayer::SetPauseText(const char* text)
{
    if (m_pauseButton)
        SetFittedLabel(m_pauseButton, TrUi(text));
}

void MediaPlayer::ReportOpenFailure()
{
    // Idle before the message: nothing may restart a file that never played.
    StopPlayback();
    m_failed = true;
    // TRANSLATORS: a warning box; %s is the file's path.
    const std::string text = FormatText(Tr("Can't play the file: %s"), DisplayableUtf8(m_path).c_str());
    if (m_report)
        m_report(text);
    else
        ShowWarning(text);
}

void MediaPlayer::PlayFile(const std::string& path)
{
    // A file still loaded would go on playing unseen.
    if (m_hMciWnd)
        m_hMciWnd->Stop();
    m_hMciWnd = nullptr;
    m_path = path;
    m_sawPlay = false;
    m_pendingSeek = -1;
    m_failed = false;

    wxMediaCtrl* device = IsRegularFile(path) ? Device() : nullptr;
    if (device && device->LoadURI(FileUri(path)))
    {
        m_hMciWnd = device;
        // Often unknown until the file plays (see wxEVT_MEDIA_PLAY): the
        // range stays meanwhile, so that a position restored at once (a
        // save in the editor) does not show as the far end.
        if (device->Length() > 0)
            SetSliderRange(static_cast<long>(device->Length()));
        device->Play();
    }
    m_playing = 1;
    m_paused = 0;
    if (m_timer)
        m_timer->Start(kTimerPeriod);
    SetSliderPos(0);
    if (!m_hMciWnd)
        ReportOpenFailure();
}

void MediaPlayer::TogglePause()
{
    if (m_playing != 1)
        return;
    if (m_paused == 1)
    {
        SetPauseText(N_("Pause"));
        if (m_hMciWnd)
            m_hMciWnd->Play();
        m_paused = 0;
    }
    else
    {
        // TRANSLATORS: the Pause button while playback is paused.
        SetPauseText(N_("Resume"));
        if (m_hMciWnd)
            m_hMciWnd->Pause();
        m_paused = 1;
    }
}

void MediaPlayer::StopPlayback()
{
    if (m_hMciWnd)
    {
        // Stopping closes the file; the device stays for the next one.
        m_hMciWnd->Stop();
        m_hMciWnd = nullptr;
    }
    m_pendingSeek = -1;
    SetPauseText(N_("Pause"));
    m_playing = 0;
    m_paused = 0;
    SetSliderPos(0);
    if (m_timer)
        m_timer->Stop();
}

void MediaPlayer::OnPlayTimer(int timerId)
{
    if (!m_timer || timerId != m_timer->GetId() || m_playing != 1 || !m_hMciWnd)
        return;
    wxMediaCtrl* device = m_hMciWnd;
    const wxMediaState state = device->GetState();
    if (state == wxMEDIASTATE_PLAYING)
        m_sawPlay = true;
    const long length = static_cast<long>(device->Length());
    const long pos = static_cast<long>(device->Tell());
    if (length > 0)
        SetSliderRange(length);
    // A seek still waiting for the file to play: the thumb stays where
    // playback will go on.
    SetSliderPos(m_pendingSeek >= 0 ? m_pendingSeek : pos);

    // An unknown length (0) says nothing about the end.
    bool atEnd = length > 0 && pos > length - kEndMargin;
    // The device stops by itself at the end of a file it has played, and
    // without ever playing when it cannot play the file.
    if (state == wxMEDIASTATE_STOPPED)
    {
        if (!m_sawPlay)
        {
            ReportOpenFailure();
            return;
        }
        atEnd = true;
    }
    if (atEnd)
    {
        m_sawPlay = false;
        device->Seek(0);
        SetSliderPos(0);
        device->Play();
    }
}

void MediaPlayer::OnSliderReleased()
{
    if (m_playing == 1)
        SeekTo(GetSliderPos());
    else
        SetSliderPos(0);
}

int MediaPlayer::GetSliderPos() const
{
    return m_slider ? m_slider->GetValue() : 0;
}

void MediaPlayer::SeekAndPlay(int pos)
{
    // Right after PlayFile the length may not be known yet; the thumb still
    // shows where playback goes on.
    if (m_slider && pos > m_slider->GetMax())
        m_slider->SetRange(0, pos);
    SetSliderPos(pos);
    SeekTo(pos);
}

void MediaPlayer::SeekTo(long pos)
{
    if (!m_hMciWnd)
        return;
    // Until a newly loaded file plays, the device may still be closing the
    // previous one, which drops the seek; it is made again when play starts.
    if (!m_sawPlay)
        m_pendingSeek = pos;
    m_hMciWnd->Seek(pos);
    m_hMciWnd->Play();
}
