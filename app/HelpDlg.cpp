// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/HelpDlg.h"

#include "app/Accessible.h"
#include "app/Display.h"
#include "app/Globals.h"
#include "app/Ids.h"
#include "app/TextFit.h"
#include "app/Theme.h"
#include "core/Translate.h"
#include "res/Images.h"

#include <wx/button.h>
#include <wx/dialog.h>
#include <wx/listctrl.h>
#include <wx/log.h>
#include <wx/statbmp.h>
#include <wx/statbox.h>
#include <wx/stattext.h>
#include <wx/utils.h>

#include <cstdio>
#include <cstring>

// The project's contact addresses, shown as the help window's two links.
static const char kContactMail[] = "help@example.org";
static const char kHomePage[] = "https://example.org/mp3tavoly/";

enum
{
    IDC_QUESTION = 1053,
    IDC_HOWTO = 1056,
    IDC_MAILLINK = 1057,
    IDC_HOMELINK = 1058,
};

namespace
{
void LaunchAddress(const std::string& address)
{
    // No mail program or browser is not worth a message.
    wxLogNull quiet;
    wxLaunchDefaultBrowser(ToDisplay(address), wxBROWSER_NOBUSYCURSOR);
}

// The subject as a mailto query value: a blank would end the address for
// the programs it is handed to.
std::string EncodeQueryValue(const char* text)
{
    std::string out;
    for (const char* p = text; *p; ++p)
    {
        const unsigned char c = static_cast<unsigned char>(*p);
        if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
            std::strchr("-._~!", c))
        {
            out += static_cast<char>(c);
        }
        else
        {
            char hex[4];
            std::snprintf(hex, sizeof hex, "%%%02X", c);
            out += hex;
        }
    }
    return out;
}

bool IsWithin(const wxWindow* win, const wxWindow* ancestor)
{
    for (; win; win = win->GetParent())
    {
        if (win == ancestor)
            return true;
    }
    return false;
}

bool IsReturnOrEscape(const wxKeyEvent& key)
{
    const int code = key.GetKeyCode();
    return code == WXK_RETURN || code == WXK_NUMPAD_ENTER || code == WXK_ESCAPE;
}

void SetSelected(wxListCtrl* link, bool selected)
{
    if (link && link->GetItemCount() > 0)
        link->SetItemState(0, selected ? wxLIST_STATE_SELECTED : 0, wxLIST_STATE_SELECTED);
}
} // namespace

void (*CHelpDlg::s_openAddress)(const std::string& address) = LaunchAddress;

std::string CompiledDate()
{
    return CompileDateText(__DATE__);
}

std::string CompileDateText(const char* date)
{
    static const char kMonths[] = "JanFebMarAprMayJunJulAugSepOctNovDec";
    char month[4] = {};
    int day = 0, year = 0;
    if (!date || std::sscanf(date, "%3s %d %d", month, &day, &year) != 3)
        return std::string();
    const char* found = std::strstr(kMonths, month);
    if (!found || std::strlen(month) != 3 || (found - kMonths) % 3 != 0)
        return std::string();
    char text[16];
    std::snprintf(text, sizeof text, "%02d %02d %02d", year % 100,
                  static_cast<int>((found - kMonths) / 3 + 1), day % 100);
    return text;
}

// ---------------------------------------------------------------------------

void CInfoWindow::CreateWindow(wxWindow* parent, int id, const char* caption, int widthDu, int heightDu)
{
    m_wnd = new wxDialog(parent, id, TrUi(caption), wxDefaultPosition, wxDefaultSize,
                         wxCAPTION | wxSYSTEM_MENU | wxCLOSE_BOX);
    // Dialog units follow this font.
    m_wnd->SetFont(wxFont(10, wxFONTFAMILY_SWISS, wxFONTSTYLE_NORMAL, wxFONTWEIGHT_NORMAL));
    m_wnd->SetClientSize(m_wnd->ConvertDialogToPixels(wxSize(widthDu, heightDu)));
    m_wnd->Bind(wxEVT_CLOSE_WINDOW, [this](wxCloseEvent&) { Hide(); });
    // Neither key closes the window, whatever has the focus.
    m_wnd->Bind(wxEVT_CHAR_HOOK, [](wxKeyEvent& key) {
        if (!IsReturnOrEscape(key))
            key.Skip();
    });
}

wxRect CInfoWindow::DialogRect(int x, int y, int w, int h) const
{
    return wxRect(m_wnd->ConvertDialogToPixels(wxPoint(x, y)),
                  m_wnd->ConvertDialogToPixels(wxSize(w, h)));
}

void CInfoWindow::AddFrame(const char* caption, int x, int y, int w, int h)
{
    const wxRect r = DialogRect(x, y, w, h);
    new wxStaticBox(m_wnd, wxID_ANY, *caption ? TrUi(caption) : wxString(), r.GetPosition(), r.GetSize());
}

wxStaticText* CInfoWindow::AddText(const std::string& text, int x, int y, int w, int h, int id)
{
    const wxRect r = DialogRect(x, y, w, h);
    return new wxStaticText(m_wnd, id < 0 ? wxID_STATIC : id, ToDisplay(text), r.GetPosition(),
                            r.GetSize(), wxST_NO_AUTORESIZE);
}

bool CInfoWindow::IsVisible() const
{
    return m_wnd && m_wnd->IsShown();
}

void CInfoWindow::Show()
{
    if (!m_wnd)
        return;
    m_wnd->Show();
    m_wnd->Raise();
    KeepUsableBesideModalMain(m_wnd);
}

void CInfoWindow::Hide()
{
    if (m_wnd)
        m_wnd->Hide();
}

void CInfoWindow::Move(const wxPoint& topLeft)
{
    if (m_wnd)
        m_wnd->Move(topLeft);
}

// ---------------------------------------------------------------------------

CHelpDlg::~CHelpDlg()
{
    StopFiltering();
}

void CHelpDlg::Create(wxWindow* parent)
{
    StopFiltering();
    CreateWindow(parent, IDD_HELP, N_("Mp3 Tavoly - Help"), 311, 265);
    CreateControls();
    FitTexts(m_wnd);
    OnInitDialog();

    wxDialog* wnd = m_wnd;
    wnd->Bind(wxEVT_BUTTON, [this](wxCommandEvent&) { ShowHowTo(); }, IDC_HOWTO);
    // The filter sees the clicks of every window; it goes with this one.
    wnd->Bind(wxEVT_DESTROY, [this, wnd](wxWindowDestroyEvent& event) {
        if (event.GetEventObject() == wnd)
        {
            StopFiltering();
            m_mailLink = m_homePageLink = m_pressedLink = nullptr;
        }
        event.Skip();
    });
    wxEvtHandler::AddFilter(this);
    m_filtering = true;
}

void CHelpDlg::StopFiltering()
{
    if (m_filtering)
        wxEvtHandler::RemoveFilter(this);
    m_filtering = false;
}

void CHelpDlg::CreateControls()
{
    AddFrame(N_("About"), 5, 1, 168, 50);
    const wxRect icon = DialogRect(13, 13, 20, 20);
    new wxStaticBitmap(m_wnd, wxID_STATIC, LoadProgramIcon().GetIcon(32), icon.GetPosition());
    AddText("Mp3 Tavoly ", 41, 12, 48, 8);
    AddText(FormatText(Tr("Version: %s"), TAVOLY_VERSION), 41, 22, 53, 8);
    // TRANSLATORS: %s is the build date as "yy mm dd".
    AddText(FormatText(Tr("Compiled: %s"), CompiledDate().c_str()), 96, 22, 73, 8);
    // TRANSLATORS: before the project's mail address; keep the trailing blank.
    AddText(Tr("Any question: "), 7, 55, 47, 8, IDC_QUESTION);

    // The links: one-row lists without header, border or scroll bars.
    auto link = [this](int id, int x, int y, int w, int h) {
        const wxRect r = DialogRect(x, y, w, h);
        auto* list = new wxListCtrl(m_wnd, id, r.GetPosition(), r.GetSize(),
                                    wxLC_REPORT | wxLC_SINGLE_SEL | wxLC_NO_HEADER | wxBORDER_NONE);
        list->ShowScrollbars(wxSHOW_SB_NEVER, wxSHOW_SB_NEVER);
        list->SetCursor(wxCursor(wxCURSOR_HAND));
    };
    link(IDC_MAILLINK, 52, 55, 75, 9);
    // TRANSLATORS: before the project's web address; keep the trailing blank.
    AddText(Tr("Home page: "), 135, 55, 42, 8);
    link(IDC_HOMELINK, 175, 55, 127, 9);

    const wxRect button = DialogRect(6, 67, 298, 14);
    new wxButton(m_wnd, IDC_HOWTO, TrUi("How to use"), button.GetPosition(), button.GetSize());

    AddFrame(N_("Glossary"), 1, 83, 305, 180);
    // TRANSLATORS: "&&" shows as one "&".
    AddText(Tr("ID3  ID3V1 && ID3V2:"), 10, 94, 76, 8);
    AddText(Tr("ID3 tag is a small data segment that stored in the tail of a Mp3 file. This data "
               "segment is for Mp3 publisher to store the detail information for this Mp3 file. "
               "Include: Title (the song name), Artist (the singer or author), Album, Published "
               "Year and so on."),
            18, 105, 269, 34);
    AddText(Tr("The ID3 tag currently has two main versions, so we call them ID3V1 and ID3V2. This "
               "software can only manage ID3V1 at this time."),
            18, 139, 259, 18);
    AddText(Tr("Rename automatically:"), 10, 159, 76, 8);
    AddText(Tr("How can this software rename the Mp3 file automatically?"), 18, 168, 247, 10);
    AddText(Tr("What is this feature use for?"), 18, 177, 247, 10);
    AddText("1:", 18, 189, 9, 8);
    AddText(Tr("Mp3 Tavoly read the ID3 tag of the Mp3 file for the \"Title\" information (the song "
               "name), and then change the file's name to this song name automatically."),
            28, 189, 266, 17);
    AddText("2:", 18, 209, 9, 8);
    // TRANSLATORS: keep the trailing blank.
    // xgettext:no-c-format
    AddText(Tr("When you download Mp3 files from Internet, up to 70% of the files' names would be: "
               "200506JHU.mp3, HILY22Y.mp3, 2203345.mp3 ... What meaningless file names !!! "),
            28, 209, 251, 24);
    // xgettext:no-c-format
    AddText(Tr("Using this feature, 90% of these meaningless files' names will be changed to their "
               "real songs' names automatically, like: 2203345.mp3 changed to Hotel California. "
               "mp3. This would be very useful when you are dealing with tons of Mp3 files."),
            28, 235, 272, 25);
}

void CHelpDlg::DoDataExchange()
{
    m_homePageLink = wxDynamicCast(m_wnd->FindWindow(IDC_HOMELINK), wxListCtrl);
    m_mailLink = wxDynamicCast(m_wnd->FindWindow(IDC_MAILLINK), wxListCtrl);
}

bool CHelpDlg::OnInitDialog()
{
    DoDataExchange();
    m_mailAddress = kContactMail;
    m_homePage = kHomePage;
    const wxColour background(236, 233, 216);
    const wxColour text(0, 70, 213);
    auto fill = [&](wxListCtrl* link, const std::string& address) {
        link->SetBackgroundColour(background);
        link->SetTextColour(text);
        link->InsertColumn(0, wxString(), wxLIST_FORMAT_LEFT, 350);
        link->InsertItem(0, ToDisplay(address));
        link->SetItemBackgroundColour(0, background);
        link->SetItemTextColour(0, text);
        // A screen reader reads the address as a link: on the window that
        // shows the row and takes the focus (the list has no header).
        for (wxWindow* rows : link->GetChildren())
            SetAccessibleName(rows, ToDisplay(address), ACC_ROLE_LINK);
    };
    fill(m_mailLink, m_mailAddress);
    fill(m_homePageLink, m_homePage);
    return true;
}

void CHelpDlg::ShowHowTo()
{
    if (!m_wnd)
        return;
    const wxPoint topLeft = m_wnd->GetRect().GetTopLeft();
    g_howToDlg.Move(topLeft + wxPoint(20, 20));
    g_howToDlg.Show();
    Hide();
}

void CHelpDlg::OpenMailLink()
{
    s_openAddress("mailto:" + m_mailAddress + "?subject=" + EncodeQueryValue("Mp3 Tavoly help!"));
}

void CHelpDlg::OpenHomePage()
{
    s_openAddress(m_homePage);
}

wxListCtrl* CHelpDlg::LinkAt(wxWindow* win) const
{
    if (m_mailLink && IsWithin(win, m_mailLink))
        return m_mailLink;
    if (m_homePageLink && IsWithin(win, m_homePageLink))
        return m_homePageLink;
    return nullptr;
}

int CHelpDlg::FilterEvent(wxEvent& event)
{
    const wxEventType type = event.GetEventType();
    const bool down = type == wxEVT_LEFT_DOWN || type == wxEVT_RIGHT_DOWN ||
                      type == wxEVT_LEFT_DCLICK || type == wxEVT_RIGHT_DCLICK;
    const bool up = type == wxEVT_LEFT_UP || type == wxEVT_RIGHT_UP;
    if (!m_wnd || (!down && !up))
        return Event_Skip;
    wxWindow* win = wxDynamicCast(event.GetEventObject(), wxWindow);
    if (!win || wxGetTopLevelParent(win) != m_wnd)
        return Event_Skip;

    wxListCtrl* link = LinkAt(win);
    if (down)
    {
        // The clicked link stays highlighted, the other one loses it.
        SetSelected(m_mailLink, link == m_mailLink);
        SetSelected(m_homePageLink, link == m_homePageLink);
        // The second press of a double click opens nothing more.
        const bool second = type == wxEVT_LEFT_DCLICK || type == wxEVT_RIGHT_DCLICK;
        m_pressedLink = second ? nullptr : link;
        return Event_Skip;
    }
    // A click is a press and a release on the same link.
    const bool clicked = link && link == m_pressedLink;
    m_pressedLink = nullptr;
    if (clicked)
    {
        // After the list has seen the release, so the link's own handling
        // is not cut short by a browser starting.
        const bool mail = link == m_mailLink;
        m_wnd->CallAfter([this, mail] { mail ? OpenMailLink() : OpenHomePage(); });
    }
    return Event_Skip;
}

// ---------------------------------------------------------------------------

void CHowToDlg::Create(wxWindow* parent)
{
    CreateWindow(parent, IDD_HOWTO, N_("Mp3 Tavoly - How to use"), 283, 243);
    AddFrame(N_("How to use"), 5, 3, 274, 30);
    AddFrame("", 5, 28, 274, 128);
    AddFrame("", 5, 151, 274, 89);
    // TRANSLATORS: the how-to window's texts fill fixed labels; a button or
    // menu item named in quotes should read as its translation does.
    AddText(Tr("Step 1:"), 11, 13, 63, 8);
    AddText(Tr("Find your Mp3 files from the  Left Directory List."), 17, 21, 251, 10);
    AddText(Tr("Step 2:"), 11, 35, 63, 8);
    // TRANSLATORS: keep the trailing blanks.
    AddText(Tr("Add your Mp3 files to the  Right Queue List.   "), 17, 45, 152, 10);
    AddText(Tr("The following operations are supported."), 17, 55, 152, 10);
    AddText(Tr("1: Select one or more Mp3 files or folders in Left Directory List."), 25, 65, 210, 10);
    AddText(Tr("Then drag and drop them to the Right Queue List."), 34, 75, 210, 10);
    AddText(Tr("Or select \"Add to queue\" command on right-click-popup menu."), 34, 84, 210, 10);
    AddText(Tr("2: Double click on the Mp3 file int the Left Directory List directly."), 25, 93, 210,
            10);
    AddText(Tr("3: Select Mp3 files or folders in other place, for example on the Desktop."), 25, 103,
            247, 10);
    AddText(Tr("Then drag and drop them to the Right Queue List of  Mp3 Tavoly."), 35, 112, 226, 10);
    AddText(Tr("Notice: "), 18, 120, 60, 10);
    AddText(Tr("If you drop folders to the Right Queue List, the software will search these folders "
               "for Mp3 files automatically, including all the subdirectories in these folders. "),
            35, 129, 235, 24);
    AddText(Tr("Step 3:"), 11, 157, 34, 8);
    AddText(Tr("Rename Mp3 files automatically:"), 21, 165, 113, 10);
    AddText(Tr("Select one or more Mp3 files in Right Queue List, then click \"Auto-Rename\" button."),
            31, 174, 236, 18);
    AddText(Tr("Rename Mp3 files manually:"), 21, 191, 113, 9);
    AddText(Tr("Using the \"ID3V1\" dialog: Select Mp3 file in Right Queue List, then click \"ID3V1\" "
               "button. Edit the file name, click \"save\" button to save your change."),
            29, 199, 246, 17);
    AddText(Tr("Edit ID3V1 tag information of Mp3 files:"), 21, 217, 138, 10);
    AddText(Tr("Using the \"ID3V1\" dialog: Please see above."), 30, 225, 149, 8);
    FitTexts(m_wnd);
}
