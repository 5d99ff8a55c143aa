#include "browser/DirList.h"

#include "app/Display.h"
#include "app/Globals.h"
#include "browser/Locations.h"
#include "res/Images.h"

#include <wx/cursor.h>
#include <wx/menu.h>
#include <wx/textctrl.h>

const char* const kLocMyComputer = "My Computer";
const char* const kLocDesktop = "Desktop";
const char* const kLocMyDocument = "My Document";

wxCursor* g_hDragCursor = nullptr;

CDirListCtrl::CDirListCtrl(wxWindow* parent, wxWindowID id, const wxPoint& pos, const wxSize& size)
    : wxListCtrl(parent, id, pos, size, wxLC_REPORT | wxLC_VIRTUAL | wxBORDER_THEME)
{
}

wxString CDirListCtrl::OnGetItemText(long item, long column) const
{
    if (item < 0 || static_cast<size_t>(item) >= g_dirList.RowCount())
        return wxString();
    const DirRow& row = g_dirList.Row(static_cast<size_t>(item));
    switch (column)
    {
    case 0: return ToDisplay(row.name);
    case 1: return ToDisplay(row.type);
    case 2: return ToDisplay(row.path);
    default: return wxString();
    }
}

int CDirListCtrl::OnGetItemImage(long item) const
{
    if (item < 0 || static_cast<size_t>(item) >= g_dirList.RowCount())
        return -1;
    return g_dirList.Row(static_cast<size_t>(item)).image;
}

CDirList::CDirList() : m_location(kLocMyComputer)
{
}

CDirList::~CDirList() = default;

void CDirList::Attach(CDirListCtrl* ctrl)
{
    m_ctrl = ctrl;
}

void CDirList::Detach()
{
    m_rows.clear();
    m_location = kLocMyComputer;
    m_folder.clear();
    m_bDragging = 0;
    m_ctrl = nullptr;
    m_menu.reset();
    m_pPopup = nullptr;
    delete g_hDragCursor;
    g_hDragCursor = nullptr;
}

void CDirList::InitMenuAndCursor()
{
    m_menu = std::make_unique<wxMenu>();
    m_pPopup = m_menu.get();
    if (!g_hDragCursor)
        g_hDragCursor = new wxCursor(LoadDragCursor());
}

void CDirList::SetRows(std::vector<DirRow> rows)
{
    m_rows = std::move(rows);
    if (m_ctrl)
    {
        m_ctrl->SetItemCount(static_cast<long>(m_rows.size()));
        m_ctrl->Refresh();
    }
}

void CDirList::ShowLocation()
{
    UpdatePathLine();
    std::vector<DirRow> rows;
    rows.push_back(DirRow{"Parent Directory", "", "", IMG_PARENT});
    SetRows(std::move(rows));
}

void CDirList::UpdatePathLine()
{
    std::string text = "Path: " + m_location;
    const bool key = m_location == kLocMyComputer || m_location == kLocDesktop ||
                     m_location == kLocMyDocument;
    if (!m_location.empty() && !key && m_location.back() != '/')
        text += '/';
    if (g_hDirStatus)
        g_hDirStatus->ChangeValue(ToDisplay(text));
}

void CDirList::AddSelectedToQueue()
{
}
