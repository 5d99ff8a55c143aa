// SPDX-License-Identifier: GPL-3.0-or-later
// The help window and the how-to window: created hidden, shown on demand,
// hidden (never destroyed) when closed.
#pragma once

#include <string>
#include <wx/eventfilter.h>
#include <wx/gdicmn.h>

class wxDialog;
class wxListCtrl;
class wxStaticText;
class wxWindow;

class CInfoWindow
{
public:
    CInfoWindow() = default;
    CInfoWindow(const CInfoWindow&) = delete;
    CInfoWindow& operator=(const CInfoWindow&) = delete;
    virtual ~CInfoWindow() = default;

    void Detach() { m_wnd = nullptr; }
    wxDialog* GetWindow() const { return m_wnd; }
    bool IsVisible() const;
    void Show();
    void Hide();
    void Move(const wxPoint& topLeft);

protected:
    void CreateWindow(wxWindow* parent, int id, const char* caption, int widthDu, int heightDu);
    // Position and size given in dialog units, in pixels of the window.
    wxRect DialogRect(int x, int y, int w, int h) const;
    void AddFrame(const char* caption, int x, int y, int w, int h);
    wxStaticText* AddText(const std::string& text, int x, int y, int w, int h, int id = -1);

    wxDialog* m_wnd = nullptr;
};

class CHelpDlg : public CInfoWindow, public wxEventFilter
{
public:
    ~CHelpDlg() override;
    void Create(wxWindow* parent);

    // Hides this window and shows the how-to window 20 pixels right of and
    // below this one's top-left corner.
    void ShowHowTo();
    void OpenMailLink();
    void OpenHomePage();

    // Selects the clicked link; any other click in the window clears both.
    int FilterEvent(wxEvent& event) override;

    wxListCtrl* m_homePageLink = nullptr;   // IDC_HOMELINK
    wxListCtrl* m_mailLink = nullptr;       // IDC_MAILLINK
    std::string m_mailAddress;
    std::string m_homePage;

    // Hands an address to the desktop (mail program or browser); failures are
    // silent. Tests put a recorder here.
    static void (*s_openAddress)(const std::string& address);

private:
    void CreateControls();
    void DoDataExchange();
    bool OnInitDialog();
    void StopFiltering();
    wxListCtrl* LinkAt(wxWindow* win) const;

    wxListCtrl* m_pressedLink = nullptr;
    bool m_filtering = false;
};

class CHowToDlg : public CInfoWindow
{
public:
    void Create(wxWindow* parent);
};

// The date as "yy mm dd" from a compiler date text such as "Jul 28 2005".
std::string CompileDateText(const char* date);
// The day the help window was built, as it shows it.
std::string CompiledDate();
