// The help window and the how-to window: created hidden, shown on demand,
// hidden (never destroyed) when closed.
#pragma once

class wxDialog;
class wxWindow;
class wxPoint;

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
    wxDialog* m_wnd = nullptr;
};

class CHelpDlg : public CInfoWindow
{
public:
    void Create(wxWindow* parent);
};

class CHowToDlg : public CInfoWindow
{
public:
    void Create(wxWindow* parent);
};
