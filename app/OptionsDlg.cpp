#include "app/OptionsDlg.h"

#include "app/Ids.h"
#include "platform/FileSystem.h"

#include <wx/button.h>
#include <wx/checkbox.h>
#include <wx/statbox.h>
#include <wx/stattext.h>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

enum
{
    IDC_WITHARTIST = 1058,
};

namespace
{
// Opens path without creating or truncating it. Only a regular file counts:
// a FIFO or a device under that name is neither waited on nor written to.
int OpenRegularFile(const std::string& path, int flags)
{
    if (!IsUsablePath(path))
        return -1;
    const int fd = open(path.c_str(), flags | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0)
        return -1;
    struct stat st;
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode))
    {
        close(fd);
        return -1;
    }
    return fd;
}
} // namespace

std::string SettingsFilePath()
{
    const std::string folder = ProgramDirectory();
    return folder.empty() ? std::string() : folder + "Vov/Vov.dat";
}

int ReadModeByte(const std::string& path)
{
    int mode = 1;
    const int fd = OpenRegularFile(path, O_RDONLY);
    if (fd < 0)
        return mode;
    char byte = 0;
    ssize_t n;
    do
        n = pread(fd, &byte, 1, kSettingsOffset);
    while (n < 0 && errno == EINTR);
    if (n == 1 && byte == '0')
        mode = 0;
    close(fd);
    return mode;
}

int WriteModeByte(const std::string& path, int withArtist)
{
    const int fd = OpenRegularFile(path, O_WRONLY);
    if (fd < 0)
        return 0;
    const char byte = withArtist ? '1' : '0';
    ssize_t n;
    do
        n = pwrite(fd, &byte, 1, kSettingsOffset);
    while (n < 0 && errno == EINTR);
    const bool closed = close(fd) == 0;
    return n == 1 && closed ? 1 : 0;
}

COptionsWindow::COptionsWindow(wxWindow* parent)
    : wxDialog(parent, IDD_OPTIONS, "Options", wxDefaultPosition, wxDefaultSize,
               wxCAPTION | wxSYSTEM_MENU | wxCLOSE_BOX)
{
    // Dialog units follow this font.
    SetFont(wxFont(10, wxFONTFAMILY_SWISS, wxFONTSTYLE_NORMAL, wxFONTWEIGHT_NORMAL));
    SetClientSize(ConvertDialogToPixels(wxSize(161, 59)));

    auto rect = [this](int x, int y, int w, int h) {
        return wxRect(ConvertDialogToPixels(wxPoint(x, y)), ConvertDialogToPixels(wxSize(w, h)));
    };
    // The frame first, so the controls inside it stay on top.
    wxRect r = rect(4, 2, 154, 36);
    new wxStaticBox(this, wxID_ANY, "Auto-rename mode", r.GetPosition(), r.GetSize());
    r = rect(8, 14, 112, 10);
    m_withArtist = new wxCheckBox(this, IDC_WITHARTIST, "With artist before song name!",
                                  r.GetPosition(), r.GetSize());
    r = rect(16, 26, 135, 8);
    new wxStaticText(this, wxID_STATIC, "Example:  Eagles - Hotel California.mp3",
                     r.GetPosition(), r.GetSize(), wxST_NO_AUTORESIZE);
    r = rect(70, 42, 40, 14);
    wxButton* ok = new wxButton(this, wxID_OK, "OK", r.GetPosition(), r.GetSize());
    r = rect(115, 42, 40, 14);
    new wxButton(this, wxID_CANCEL, "Cancel", r.GetPosition(), r.GetSize());
    ok->SetDefault();
    SetEscapeId(wxID_CANCEL);

    Bind(wxEVT_CHAR_HOOK, &COptionsWindow::OnCharHook, this);
    CentreOnParent();
    m_withArtist->SetFocus();
}

void COptionsWindow::OnCharHook(wxKeyEvent& event)
{
    const int code = event.GetKeyCode();
    if (code == WXK_ESCAPE)
    {
        EmulateButtonClickIfPresent(wxID_CANCEL);
        return;
    }
    if (code == WXK_RETURN || code == WXK_NUMPAD_ENTER)
    {
        // A focused push button takes Return itself; elsewhere it means OK.
        const wxButton* focused = dynamic_cast<const wxButton*>(FindFocus());
        const int id = focused && focused->GetParent() == this ? focused->GetId() : wxID_OK;
        EmulateButtonClickIfPresent(id);
        return;
    }
    event.Skip();
}

void COptionsDlg::LoadSettings()
{
    m_bWithArtist = ReadModeByte(SettingsFilePath());
}

int COptionsDlg::DoModal(wxWindow* parent)
{
    COptionsWindow window(parent);
    window.m_withArtist->SetValue(m_bWithArtist != 0);
    const int result = window.ShowModal();
    if (result != wxID_OK)
        return wxID_CANCEL;
    m_bWithArtist = window.m_withArtist->GetValue() ? 1 : 0;
    return wxID_OK;
}

int COptionsDlg::SaveSettings() const
{
    return WriteModeByte(SettingsFilePath(), m_bWithArtist);
}
