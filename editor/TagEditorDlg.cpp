// SPDX-License-Identifier: GPL-3.0-or-later
#include "editor/TagEditorDlg.h"

#include "app/Accessible.h"
#include "app/Display.h"
#include "app/Globals.h"
#include "app/Ids.h"
#include "app/TextFit.h"
#include "app/Theme.h"
#include "app/WarningBox.h"
#include "browser/DirList.h"
#include "core/TagFile.h"
#include "core/TextCodec.h"
#include "core/Translate.h"
#include "queue/QueueList.h"

#include <wx/button.h>
#include <wx/choice.h>
#include <wx/dialog.h>
#include <wx/slider.h>
#include <wx/statbox.h>
#include <wx/stattext.h>
#include <wx/textctrl.h>
#include <wx/timer.h>
#include <wx/utils.h>

#include <sys/stat.h>

namespace
{
// TRANSLATORS: the tag editor's frame around the tag's fields.
const char* const kFrameWithTag = N_("ID3v1");
// TRANSLATORS: the tag editor's frame when the file has no ID3v1 tag.
const char* const kFrameWithoutTag = N_("ID3v1 None!");

// A tag field's bytes as text to show: up to its first zero byte.
wxString TagFieldText(const std::string& field)
{
    return ToDisplay(DecodeTagField(field.substr(0, field.find('\0'))));
}

std::string StoredTagText(const wxString& text, std::size_t limit)
{
    return EncodeTagText(FromUser(text), limit);
}

// The last component of a path; only '/' separates here.
std::string NameOf(const std::string& path)
{
    const std::string::size_type slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

bool EndsWithMp3(const std::string& name)
{
    if (name.size() < 4)
        return false;
    std::string suffix = name.substr(name.size() - 4);
    for (char& c : suffix)
    {
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    }
    return suffix == ".mp3";
}

size_t NonDigits(const wxString& text)
{
    size_t n = 0;
    for (const wxUniChar c : text)
    {
        if (c < '0' || c > '9')
            ++n;
    }
    return n;
}
} // namespace

CTagEditorDlg::CTagEditorDlg() = default;

CTagEditorDlg::~CTagEditorDlg()
{
    if (m_filtering)
        wxEvtHandler::RemoveFilter(this);
}

wxRect CTagEditorDlg::DialogRect(int x, int y, int w, int h) const
{
    return wxRect(m_wnd->ConvertDialogToPixels(wxPoint(x, y)),
                  m_wnd->ConvertDialogToPixels(wxSize(w, h)));
}

void CTagEditorDlg::Create(wxWindow* parent)
{
    m_wnd = new wxDialog(parent, IDD_TAGEDITOR, TrUi("ID3v1 Editor"), wxDefaultPosition, wxDefaultSize,
                         wxCAPTION | wxSYSTEM_MENU | wxCLOSE_BOX);
    // Dialog units follow this font: the layout's sizes were chosen for it.
    m_wnd->SetFont(wxFont(9, wxFONTFAMILY_SWISS, wxFONTSTYLE_NORMAL, wxFONTWEIGHT_NORMAL));
    m_wnd->SetClientSize(m_wnd->ConvertDialogToPixels(wxSize(223, 167)));
    CreateControls();

    m_timer = std::make_unique<wxTimer>(m_wnd, TIMER_EDITOR_PLAYER);
    m_player.Attach(m_wnd, m_slider, m_pauseButton, m_timer.get());
    m_player.SetFailureReporter([wnd = m_wnd](const std::string& text) { ShowWarningBox(text, wnd); });

    wxDialog* wnd = m_wnd;
    auto command = [this, wnd](int id, void (CTagEditorDlg::*handler)()) {
        wnd->Bind(wxEVT_BUTTON, [this, handler](wxCommandEvent&) { (this->*handler)(); }, id);
    };
    command(IDC_TAG_CLEAR, &CTagEditorDlg::OnClear);
    command(IDC_TAG_SAVE, &CTagEditorDlg::OnSave);
    command(IDC_TAG_NEXT, &CTagEditorDlg::OnNext);
    command(IDC_TAG_PREV, &CTagEditorDlg::OnPrev);
    command(IDC_TAG_PLAY, &CTagEditorDlg::OnPlay);
    command(IDC_TAG_STOP, &CTagEditorDlg::StopPlayback);
    command(IDC_TAG_FROMTITLE, &CTagEditorDlg::OnFromTitle);
    command(IDC_TAG_FROMFILENAME, &CTagEditorDlg::OnFromFileName);
    command(IDC_TAG_CANCEL, &CTagEditorDlg::OnCloseEditor);
    wnd->Bind(wxEVT_BUTTON, [this](wxCommandEvent&) { m_player.TogglePause(); }, IDC_TAG_PAUSE);
    auto released = [this](wxScrollEvent&) { m_player.OnSliderReleased(); };
    wnd->Bind(wxEVT_SCROLL_THUMBRELEASE, released, IDC_TAG_SLIDER);
    wnd->Bind(wxEVT_SCROLL_CHANGED, released, IDC_TAG_SLIDER);
    wnd->Bind(wxEVT_TIMER, [this](wxTimerEvent& event) {
        m_player.OnPlayTimer(event.GetId());
        event.Skip();
    }, TIMER_EDITOR_PLAYER);
    // Closing only hides: the window lives as long as its owner.
    wnd->Bind(wxEVT_CLOSE_WINDOW, [this](wxCloseEvent&) { OnCloseEditor(); });
    wnd->Bind(wxEVT_DESTROY, [this, wnd](wxWindowDestroyEvent& event) {
        if (event.GetEventObject() == wnd && m_wnd == wnd)
            ForgetWindow();
        event.Skip();
    });

    wxEvtHandler::AddFilter(this);
    m_filtering = true;
}

void CTagEditorDlg::CreateControls()
{
    auto frame = [this](int id, const char* text, int x, int y, int w, int h) {
        const wxRect r = DialogRect(x, y, w, h);
        return new wxStaticBox(m_wnd, id, TrUi(text), r.GetPosition(), r.GetSize());
    };
    auto label = [this](int id, const char* text, int x, int y, int w, int h) {
        const wxRect r = DialogRect(x, y, w, h);
        auto* t = new wxStaticText(m_wnd, id, TrUi(text), r.GetPosition(), r.GetSize());
        // The desktop's font may be wider than the layout's: never cut a
        // label short (each has room before the field it names).
        const int width = t->GetBestSize().x;
        if (width > r.width)
            t->SetSize(width, r.height);
    };
    auto edit = [this](int id, int x, int y, int w, int h, long style = 0) {
        const wxRect r = DialogRect(x, y, w, h);
        return new wxTextCtrl(m_wnd, id, wxString(), r.GetPosition(), r.GetSize(), style);
    };
    auto button = [this](int id, const char* text, int x, int y, int w, int h) {
        const wxRect r = DialogRect(x, y, w, h);
        return new wxButton(m_wnd, id, TrUi(text), r.GetPosition(), r.GetSize());
    };

    // Frames first, so the controls inside them stay on top; the rest in
    // tab order.
    // TRANSLATORS: the tag editor's frame around the file's path and name
    // (short for attributes).
    frame(wxID_ANY, N_("Attrib"), 4, 3, 216, 36);
    m_tagFrame = frame(IDC_TAG_FRAME, kFrameWithTag, 4, 41, 216, 79);
    // TRANSLATORS: the tag editor's frame around the player's buttons.
    frame(wxID_ANY, N_("Play"), 4, 121, 216, 26);

    // TRANSLATORS: the tag editor's labels stand before their fields in a
    // column about 40 pixels wide.
    label(wxID_ANY, N_("Path"), 10, 14, 16, 8);
    m_pathEdit = edit(IDC_TAG_PATH, 50, 10, 166, 12, wxTE_READONLY);
    label(IDC_TAG_FILENAME_LABEL, N_("File Name"), 10, 25, 34, 8);
    m_fileNameEdit = edit(IDC_TAG_FILENAME, 50, 24, 123, 12);
    // TRANSLATORS: a small button: the file name from the Title field.
    button(IDC_TAG_FROMTITLE, N_("From title"), 177, 24, 39, 12);
    label(wxID_ANY, N_("Title"), 10, 52, 15, 8);
    m_titleEdit = edit(IDC_TAG_TITLE, 50, 48, 106, 12);
    // TRANSLATORS: a small button: the Title field from the file name.
    button(IDC_TAG_FROMFILENAME, N_("From file name"), 160, 48, 56, 12);
    label(wxID_ANY, N_("Artist"), 10, 65, 18, 8);
    m_artistEdit = edit(IDC_TAG_ARTIST, 50, 62, 166, 12);
    label(wxID_ANY, N_("Album"), 10, 79, 21, 8);
    m_albumEdit = edit(IDC_TAG_ALBUM, 50, 76, 119, 12);
    // TRANSLATORS: a short label before the two-digit track number field.
    label(wxID_ANY, N_("Track"), 172, 78, 19, 8);
    m_trackEdit = edit(IDC_TAG_TRACK, 198, 76, 18, 12);
    MakeEntryTight(m_trackEdit);
    label(wxID_ANY, N_("Year"), 10, 92, 17, 8);
    m_yearEdit = edit(IDC_TAG_YEAR, 50, 90, 40, 12);
    label(wxID_ANY, N_("Genre"), 93, 92, 21, 8);
    // The layout's 30 units are the height of the dropped list; the closed
    // box is as high as the edit fields.
    wxRect r = DialogRect(117, 90, 100, 12);
    m_genreBox = new wxChoice(m_wnd, IDC_TAG_GENRE, r.GetPosition(), r.GetSize());
    for (const char* name : kGenreNames)
        m_genreBox->Append(name);
    m_genreBox->SetSelection(wxNOT_FOUND);
    label(wxID_ANY, N_("Comment"), 10, 105, 32, 8);
    m_commentEdit = edit(IDC_TAG_COMMENT, 50, 104, 166, 12);

    button(IDC_TAG_PLAY, N_("Play"), 9, 131, 28, 12);
    m_pauseButton = button(IDC_TAG_PAUSE, N_("Pause"), 41, 131, 35, 12);
    button(IDC_TAG_STOP, N_("Stop"), 80, 131, 27, 12);
    r = DialogRect(109, 132, 107, 10);
    m_slider = new wxSlider(m_wnd, IDC_TAG_SLIDER, 0, 0, 100, r.GetPosition(), r.GetSize(),
                            wxSL_HORIZONTAL);
    // TRANSLATORS: the tag editor's buttons are small; prefer short words,
    // but never shorten one (the window grows for a longer text). Prev and
    // Next step to the queue's previous and next file.
    button(IDC_TAG_PREV, N_("Prev"), 5, 150, 34, 14);
    button(IDC_TAG_NEXT, N_("Next"), 50, 150, 33, 14);
    button(IDC_TAG_SAVE, N_("Save"), 95, 150, 33, 14);
    // TRANSLATORS: empties the tag's fields in the editor.
    button(IDC_TAG_CLEAR, N_("Clear"), 140, 150, 34, 14);
    // TRANSLATORS: closes the tag editor.
    button(IDC_TAG_CANCEL, N_("Cancel"), 185, 150, 35, 14);
    FitTexts(m_wnd, {{m_pauseButton, {TrUi("Resume")}}});
    // What a screen reader says for the fields: their labels; the slider
    // stands after the player's buttons and is named as the main window's.
    NameFieldsByTheirLabels(m_wnd);
    SetAccessibleName(m_slider, TrUi("Playback position"));

    // In the order Save checks them.
    m_limits = {
        {m_albumEdit, kTextLimit, true, false, wxString()},
        {m_artistEdit, kTextLimit, true, false, wxString()},
        {m_commentEdit, kTextLimit, true, false, wxString()},
        {m_fileNameEdit, kFileNameLimit, false, false, wxString()},
        {m_trackEdit, kTrackLimit, false, true, wxString()},
        {m_titleEdit, kTextLimit, true, false, wxString()},
        {m_yearEdit, kYearLimit, true, true, wxString()},
    };
    for (const LimitedField& f : m_limits)
        f.edit->Bind(wxEVT_TEXT, &CTagEditorDlg::OnFieldText, this);
    // The window opens with the caret in the first field that can be
    // edited, not in the read-only Path.
    m_fileNameEdit->SetFocus();
}

void CTagEditorDlg::ForgetWindow()
{
    m_player.StopPlayback();
    m_player.Attach(nullptr, nullptr, nullptr, nullptr);
    m_player.SetFailureReporter(nullptr);
    m_timer.reset();
    if (m_filtering)
        wxEvtHandler::RemoveFilter(this);
    m_filtering = false;
    m_limits.clear();
    m_pathEdit = m_fileNameEdit = m_titleEdit = m_artistEdit = nullptr;
    m_albumEdit = m_trackEdit = m_yearEdit = m_commentEdit = nullptr;
    m_tagFrame = nullptr;
    m_pauseButton = nullptr;
    m_slider = nullptr;
    m_genreBox = nullptr;
    m_wnd = nullptr;
    m_row = -1;
    m_isOpen = 0;
    m_playRow = -1;
    m_resumeAfterSave = 0;
    m_savedPos = 0;
    m_genre = -1;
    m_path.clear();
    m_fileName.clear();
}

void CTagEditorDlg::Detach()
{
    if (m_wnd)
        ForgetWindow();
}

void CTagEditorDlg::Reset()
{
    m_row = -1;
    m_player.Reset();
}

CTagEditorDlg::LimitedField* CTagEditorDlg::FieldOf(const wxTextCtrl* edit)
{
    for (LimitedField& f : m_limits)
    {
        if (f.edit == edit)
            return &f;
    }
    return nullptr;
}

std::size_t CTagEditorDlg::StoredSize(const LimitedField& field, const wxString& text)
{
    return field.tagText ? EncodeTagText(FromUser(text), std::string::npos).size()
                         : FromUser(text).size();
}

void CTagEditorDlg::SetFieldText(wxTextCtrl* edit, const wxString& text)
{
    if (!edit)
        return;
    edit->ChangeValue(text);
    if (LimitedField* f = FieldOf(edit))
        f->accepted = text;
}

void CTagEditorDlg::OnFieldText(wxCommandEvent& event)
{
    event.Skip();
    LimitedField* f = FieldOf(wxDynamicCast(event.GetEventObject(), wxTextCtrl));
    if (!f)
        return;
    const wxString now = f->edit->GetValue();
    // A text the program put there may be too long already; the user can
    // still shorten it.
    const std::size_t size = StoredSize(*f, now);
    bool ok = size <= f->limit || size <= StoredSize(*f, f->accepted);
    if (ok && f->digitsOnly)
        ok = NonDigits(now) <= NonDigits(f->accepted);
    if (ok)
    {
        f->accepted = now;
        return;
    }
    const long grown = static_cast<long>(now.length()) - static_cast<long>(f->accepted.length());
    const long caret = f->edit->GetInsertionPoint() - std::max(0L, grown);
    f->edit->ChangeValue(f->accepted);
    f->edit->SetInsertionPoint(std::max(0L, caret));
    wxBell();
}

void CTagEditorDlg::SetFrameText(const char* text)
{
    if (m_tagFrame)
        m_tagFrame->SetLabel(TrUi(text));
}

std::string CTagEditorDlg::FileNameText() const
{
    if (!m_fileNameEdit)
        return m_fileName;
    const wxString shown = m_fileNameEdit->GetValue();
    // A name that is not UTF-8 shows decoded in the ANSI code page; unchanged,
    // it keeps its own bytes.
    if (shown == ToDisplay(m_fileName))
        return m_fileName;
    return FromUser(shown);
}

int CTagEditorDlg::ShowTag(const std::string& path)
{
    if (path.empty() || !m_wnd)
        return 0;
    std::string title, artist, album, year, comment, track;
    int genre = -1;
    const int read =
        TheTagFile().ReadTag(path, "MP3", title, artist, album, year, comment, track, genre);
    m_path = path;
    m_fileName = NameOf(path);
    SetFieldText(m_pathEdit, ToDisplay(m_path));
    SetFieldText(m_fileNameEdit, ToDisplay(m_fileName));
    if (read != 1)
    {
        ClearFields();
        return 0;
    }
    Appear();
    SetFieldText(m_titleEdit, TagFieldText(title));
    SetFieldText(m_artistEdit, TagFieldText(artist));
    SetFieldText(m_albumEdit, TagFieldText(album));
    SetFieldText(m_yearEdit, TagFieldText(year));
    SetFieldText(m_commentEdit, TagFieldText(comment));
    SetFrameText(kFrameWithTag);
    const int trackNo = track.size() == 1 ? static_cast<unsigned char>(track[0]) : 0;
    SetFieldText(m_trackEdit, trackNo >= 1 && trackNo <= 99 ? wxString::Format("%d", trackNo)
                                                             : wxString());
    m_genre = genre >= 0 && genre < kGenreCount ? genre : -1;
    m_genreBox->SetSelection(m_genre >= 0 ? m_genre : wxNOT_FOUND);
    return 1;
}

void CTagEditorDlg::ClearFields()
{
    for (wxTextCtrl* edit :
         {m_titleEdit, m_artistEdit, m_albumEdit, m_yearEdit, m_commentEdit, m_trackEdit})
        SetFieldText(edit, wxString());
    SetFrameText(kFrameWithoutTag);
    m_genre = -1;
    if (m_genreBox)
        m_genreBox->SetSelection(wxNOT_FOUND);
}

bool CTagEditorDlg::IsVisible() const
{
    return m_wnd && m_wnd->IsShown();
}

void CTagEditorDlg::Show()
{
    if (m_wnd)
    {
        Appear();
        m_wnd->Raise();
        KeepUsableBesideModalMain(m_wnd);
    }
}

void CTagEditorDlg::ShowAgain()
{
    if (m_isOpen != 1)
        return;
    if (m_row < 0 || m_row >= g_queue.GetCount())
    {
        OnCloseEditor();
        return;
    }
    // A rename in the queue may have given the row another file; unchanged,
    // the fields keep what the user typed.
    const std::string path = g_queue.GetPath(m_row);
    if (path != m_path)
        ShowTag(path);
    Show();
}

void CTagEditorDlg::Appear()
{
    // Coming up from hidden, the toolkit would give the focus to the first
    // control, the read-only Path.
    const bool wasShown = m_wnd->IsShown();
    m_wnd->Show();
    if (!wasShown)
        m_fileNameEdit->SetFocus();
}

void CTagEditorDlg::Hide()
{
    if (m_wnd)
        m_wnd->Hide();
}

void CTagEditorDlg::Close()
{
    OnCloseEditor();
}

void CTagEditorDlg::Move(const wxPoint& topLeft)
{
    if (m_wnd)
        m_wnd->Move(topLeft);
}

void CTagEditorDlg::OnClear()
{
    ClearFields();
}

void CTagEditorDlg::OnSave()
{
    if (!m_wnd)
        return;
    // Every field within its limit, checked in a fixed order.
    for (const LimitedField& f : m_limits)
    {
        if (StoredSize(f, f.edit->GetValue()) > f.limit)
        {
            // TRANSLATORS: a warning box; %zu is the field's limit in bytes
            // of the tag, which this text calls characters.
            ShowWarningBox(FormatText(TrN("Please enter no more than %zu characters.",
                                          "Please enter no more than %zu characters.", f.limit),
                                      f.limit),
                           m_wnd);
            f.edit->SetFocus();
            f.edit->SelectAll();
            return;
        }
    }
    const std::string fileName = FileNameText();
    {
        ScopedWarningParent over(m_wnd);
        if (!CheckMp3FileName(fileName))
            return;
    }

    // Saving stops playback and picks it up again afterwards.
    if (m_player.m_playing == 1)
    {
        m_savedPos = m_player.GetSliderPos();
        StopPlayback();
        m_resumeAfterSave = 1;
    }

    std::string track;
    const wxString trackText = m_trackEdit->GetValue();
    if (!trackText.empty())
    {
        const int first = static_cast<int>(trackText[0].GetValue()) - '0';
        const int value = trackText.length() == 1
                              ? first
                              : 10 * first + (static_cast<int>(trackText[1].GetValue()) - '0');
        track.assign(1, static_cast<char>(value & 0xFF));
    }
    m_genre = m_genreBox->GetSelection();
    if (m_genre < 0)
        m_genre = -1;

    // A read-only file gets its owner's write permission; it is not put back
    // after a save, but a save that fails leaves the file as it was.
    struct stat st;
    bool madeWritable = false;
    if (stat(m_path.c_str(), &st) == 0 && (st.st_mode & S_IWUSR) == 0)
        madeWritable = chmod(m_path.c_str(), (st.st_mode & 07777) | S_IWUSR) == 0;

    const int written = TheTagFile().WriteTag(
        m_path, "MP3", StoredTagText(m_titleEdit->GetValue(), kTextLimit),
        StoredTagText(m_artistEdit->GetValue(), kTextLimit),
        StoredTagText(m_albumEdit->GetValue(), kTextLimit),
        StoredTagText(m_yearEdit->GetValue(), kYearLimit),
        StoredTagText(m_commentEdit->GetValue(), kTextLimit), track, m_genre);
    if (written == 0)
    {
        // Its mode as it was; failing that, it stays writable by its owner,
        // which the warning below tells of well enough.
        if (madeWritable)
            (void)chmod(m_path.c_str(), st.st_mode & 07777);
        // TRANSLATORS: a warning box; %s is the file's path.
        ShowWarningBox(FormatText(Tr("Can't save to the file: %s"), DisplayableUtf8(m_path).c_str()), m_wnd);
    }
    else
    {
        SetFrameText(kFrameWithTag);
        // The file renamed is the one just written, the one shown. Made even
        // when the name is unchanged: that move succeeds in place.
        const int row = g_queue.GetPath(m_row) == m_path ? m_row : g_queue.RowOf(m_path);
        std::string newPath;
        const int moved = g_queue.RenameByHand(row, m_path, fileName, newPath);
        if (moved)
        {
            m_path = newPath;
            m_fileName = fileName;
            SetFieldText(m_pathEdit, ToDisplay(m_path));
            SetFieldText(m_fileNameEdit, ToDisplay(m_fileName));
            if (row >= 0)
            {
                m_row = row;
                g_queue.RecordManualRename(row, fileName, newPath);
            }
        }
        else
        {
            ShowWarningBox(Tr("Id3v1 information saved, but could not rename the file!"), m_wnd);
        }
        g_queue.WarnIfNotJournaled(m_wnd);
    }

    if (m_resumeAfterSave == 1)
    {
        const int row = m_row;
        m_row = m_playRow;
        OnPlay();
        m_row = row;
        if (m_player.m_playing == 1)
            m_player.SeekAndPlay(m_savedPos);
        m_resumeAfterSave = 0;
    }
}

void CTagEditorDlg::OnNext()
{
    const int count = g_queue.GetCount();
    if (m_row == -1 || count == 0)
        return;
    m_row = m_row + 1 >= count ? 0 : m_row + 1;
    StepTo(m_row);
}

void CTagEditorDlg::OnPrev()
{
    const int count = g_queue.GetCount();
    if (m_row == -1 || count == 0)
        return;
    m_row = m_row - 1 < 0 || m_row - 1 >= count ? count - 1 : m_row - 1;
    StepTo(m_row);
}

void CTagEditorDlg::StepTo(int row)
{
    g_queue.DeselectAll();
    g_queue.SelectRow(row);
    // The list's current row follows, or its next plain click would leave
    // this row selected too.
    g_queue.FocusRow(row);
    ShowTag(g_queue.GetPath(row));
}

void CTagEditorDlg::OnPlay()
{
    if (m_player.m_playing == 1)
        StopPlayback();
    m_playRow = m_row;
    const std::string file = m_row == -1 ? std::string() : g_queue.GetPath(m_row);
    if (file.empty())
        return;
    m_player.PlayFile(file);
}

void CTagEditorDlg::StopPlayback()
{
    m_player.StopPlayback();
    m_resumeAfterSave = 0;
}

void CTagEditorDlg::OnFromTitle()
{
    if (!m_titleEdit)
        return;
    const std::string title = FromUser(m_titleEdit->GetValue());
    if (title.empty())
    {
        // TRANSLATORS: a warning box; keep the trailing blank.
        ShowWarningBox(Tr("No Title! "), m_wnd);
        return;
    }
    if (title[0] == ' ')
    {
        ShowWarningBox(Tr("Invalid Title! \r\nThe first letter can not be blank."), m_wnd);
        return;
    }
    SetFieldText(m_fileNameEdit, ToDisplay(EndsWithMp3(title) ? title : title + ".mp3"));
}

void CTagEditorDlg::OnFromFileName()
{
    if (!m_fileNameEdit)
        return;
    const std::string name = FileNameText();
    {
        ScopedWarningParent over(m_wnd);
        if (!CheckMp3FileName(name))
            return;
    }
    SetFieldText(m_titleEdit, ToDisplay(name.substr(0, name.size() - 4)));
}

void CTagEditorDlg::OnCloseEditor()
{
    StopPlayback();
    m_row = -1;
    m_isOpen = 0;
    Hide();
}

int CTagEditorDlg::FilterEditorInput(wxEvent& event)
{
    const wxEventType type = event.GetEventType();
    const bool isKey = type == wxEVT_KEY_DOWN || type == wxEVT_KEY_UP || type == wxEVT_CHAR ||
                       type == wxEVT_CHAR_HOOK;
    const bool isClick = type == wxEVT_LEFT_UP || type == wxEVT_RIGHT_DOWN;
    if ((!isKey && !isClick) || !m_wnd)
        return Event_Skip;
    wxWindow* win = wxDynamicCast(event.GetEventObject(), wxWindow);
    if (!win || wxGetTopLevelParent(win) != m_wnd)
        return Event_Skip;
    if (isKey)
    {
        const int code = static_cast<wxKeyEvent&>(event).GetKeyCode();
        if (code == WXK_RETURN || code == WXK_NUMPAD_ENTER || code == WXK_ESCAPE)
            return Event_Processed;
        return Event_Skip;
    }
    // A drag from the directory list that ends here adds nothing.
    g_dirList.m_bDragging = 0;
    return Event_Skip;
}
