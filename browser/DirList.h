// The directory list: folders and MP3 files of one location at a time.
#pragma once

#include <wx/listctrl.h>

#include <memory>
#include <string>
#include <vector>

class wxMenu;
class wxCursor;

// One row: display name, type text, full path, image.
struct DirRow
{
    std::string name;
    std::string type;
    std::string path;
    int image = 0;
};

class CDirListCtrl : public wxListCtrl
{
public:
    CDirListCtrl(wxWindow* parent, wxWindowID id, const wxPoint& pos, const wxSize& size);
    wxString OnGetItemText(long item, long column) const override;
    int OnGetItemImage(long item) const override;
};

class CDirList
{
public:
    CDirList();
    ~CDirList();
    CDirList(const CDirList&) = delete;
    CDirList& operator=(const CDirList&) = delete;

    void Attach(CDirListCtrl* ctrl);
    void Detach();
    CDirListCtrl* GetCtrl() const { return m_ctrl; }

    void InitMenuAndCursor();
    void ShowLocation();
    void UpdatePathLine();
    // Adds the selected MP3 and folder rows to the queue, in list order.
    void AddSelectedToQueue();

    size_t RowCount() const { return m_rows.size(); }
    const DirRow& Row(size_t i) const { return m_rows[i]; }

    std::string m_location;
    int m_bDragging = 0;
    std::string m_folder;
    std::unique_ptr<wxMenu> m_menu;
    wxMenu* m_pPopup = nullptr;

private:
    void SetRows(std::vector<DirRow> rows);

    CDirListCtrl* m_ctrl = nullptr;
    std::vector<DirRow> m_rows;
};

// The drag cursor, loaded with the directory list's menu.
extern wxCursor* g_hDragCursor;
