// SPDX-License-Identifier: GPL-3.0-or-later
// The folder tree of the location box's drop-down.
#include "browser/LocationBox.h"

#include "app/Display.h"
#include "app/Ids.h"
#include "browser/Locations.h"
#include "core/Translate.h"
#include "res/Images.h"

#include <wx/settings.h>

#include <algorithm>
#include <vector>

namespace
{
// Lines, full-row highlight, no expand buttons, no lines at the root, no
// label editing; the root is hidden so that a path outside every drive can
// stand as a second top-level chain.
constexpr long kTreeStyle = wxTR_SINGLE | wxTR_FULL_ROW_HIGHLIGHT | wxTR_HIDE_ROOT |
                            wxTR_NO_BUTTONS | wxBORDER_SIMPLE;

bool HasPathPrefix(const std::string& path, const std::string& folder)
{
    if (folder == "/")
        return !path.empty() && path[0] == '/';
    return path.compare(0, folder.size(), folder) == 0 &&
           (path.size() == folder.size() || path[folder.size()] == '/');
}
} // namespace

CFolderTree::CFolderTree(wxWindow* parent)
    : wxTreeCtrl(parent, 0, wxPoint(0, 0), wxSize(10, 10), kTreeStyle)
{
    Bind(wxEVT_MOTION, &CFolderTree::OnMotion, this);
    Bind(wxEVT_LEFT_DOWN, &CFolderTree::OnLeftDown, this);
    Bind(wxEVT_KEY_DOWN, &CFolderTree::OnKeyDown, this);
    Bind(wxEVT_TREE_ITEM_EXPANDED, &CFolderTree::OnExpanded, this);
    Bind(wxEVT_TREE_ITEM_COLLAPSED, &CFolderTree::OnCollapsed, this);
    // The scroll bars come with each opening, for a tree taller than the
    // screen's room or a label wider than the drop-down.
    ShowScrollbars(wxSHOW_SB_NEVER, wxSHOW_SB_NEVER);
}

void CFolderTree::InitImages()
{
    m_images.Create(16, 16, false, 10);
    m_images.Add(LoadIconStrip(), *wxBLACK);
    SetImageList(&m_images);
}

int CFolderTree::RowHeight() const
{
    // The control's own row height, worked out from the font (descenders
    // included) and the images.
    wxRect rect;
    const wxTreeItemId first = FirstTopLevelItem();
    if (first.IsOk() && GetBoundingRect(first, rect))
        return rect.height;
    return GetCharHeight() + 4;
}

int CFolderTree::WidestRow()
{
#ifndef __WXMSW__
    // Rows inserted since the last paint have no place yet.
    if (m_dirty)
        CalculatePositions();
#endif
    int widest = 0;
    for (wxTreeItemId item = FirstTopLevelItem(); item.IsOk(); item = NextVisible(item))
    {
        wxRect rect;
        if (GetBoundingRect(item, rect, true))
            widest = std::max(widest, CalcUnscrolledPosition(rect.GetTopRight()).x + 1);
    }
    return widest;
}

wxTreeItemId CFolderTree::InsertNode(FolderItem* record, const wxTreeItemId& parent)
{
    wxTreeItemId under = parent.IsOk() ? parent : GetRootItem();
    if (!under.IsOk())
        under = AddRoot(wxString());
    return AppendItem(under, ToDisplay(record->text), record->image, record->image, record);
}

void CFolderTree::FillRoots(CLocationBox* owner)
{
    m_pOwner = owner;
    if (!GetRootItem().IsOk())
        AddRoot(wxString());
    // The three places' texts only show; their paths lead.
    m_desktop = InsertNode(new FolderItem(IMG_DESKTOP, IMG_DESKTOP, Tr(kLocDesktop),
                                          SpecialFolderPath(CSIDL_DESKTOP)),
                           wxTreeItemId());
    // TRANSLATORS: the user's documents folder in the folder tree.
    m_myDocuments = InsertNode(new FolderItem(IMG_MYDOCUMENTS, IMG_MYDOCUMENTS, Tr("My Documents"),
                                              SpecialFolderPath(CSIDL_PERSONAL)),
                               m_desktop);
    m_myComputer = InsertNode(
        new FolderItem(IMG_MYCOMPUTER, IMG_MYCOMPUTER, Tr(kLocMyComputer), kLocMyComputer), m_desktop);
    for (const DriveEntry& drive : EnumerateDrives())
        InsertNode(new FolderItem(drive.image, drive.image, drive.text, drive.root), m_myComputer);
    Expand(m_desktop);
    Expand(m_myComputer);
    Pick(m_myComputer);
}

FolderItem* CFolderTree::Record(const wxTreeItemId& item) const
{
    if (!item.IsOk())
        return nullptr;
    return static_cast<FolderItem*>(GetItemData(item));
}

wxTreeItemId CFolderTree::FirstTopLevelItem() const
{
    const wxTreeItemId root = GetRootItem();
    if (!root.IsOk())
        return wxTreeItemId();
    wxTreeItemIdValue cookie;
    return GetFirstChild(root, cookie);
}

int CFolderTree::ItemCount() const
{
    return static_cast<int>(GetCount());
}

void CFolderTree::InsertFolderPath(const std::string& pathIn)
{
    std::string path = pathIn;
    while (path.size() > 1 && path.back() == '/')
        path.pop_back();
    if (path.empty())
        return;

    // The first component is the drive that holds the path: the deepest
    // mount point above it. Then one component per folder below it.
    std::string drive;
    if (m_myComputer.IsOk())
    {
        wxTreeItemIdValue cookie;
        for (wxTreeItemId item = GetFirstChild(m_myComputer, cookie); item.IsOk();
             item = GetNextChild(m_myComputer, cookie))
        {
            const FolderItem* record = Record(item);
            if (record && record->path.size() > drive.size() && HasPathPrefix(path, record->path))
                drive = record->path;
        }
    }
    if (drive.empty())
        drive = path[0] == '/' ? std::string("/") : path.substr(0, path.find('/'));

    std::vector<std::string> names{drive};
    std::vector<std::string> paths{drive};
    size_t start = drive.size();
    while (start < path.size())
    {
        if (path[start] == '/')
        {
            ++start;
            continue;
        }
        size_t end = path.find('/', start);
        if (end == std::string::npos)
            end = path.size();
        names.push_back(path.substr(start, end - start));
        paths.push_back(JoinPath(paths.back(), names.back()));
        start = end;
    }

    const wxTreeItemId first = FindByPath(FirstTopLevelItem(), paths[0]);
    wxTreeItemId node = first;
    wxTreeItemId deepest = first;
    size_t i = 0;
    while (node.IsOk() && i < paths.size())
    {
        const wxTreeItemId found = FindSibling(node, paths[i]);
        if (!found.IsOk())
            break;
        deepest = found;
        wxTreeItemIdValue cookie;
        node = GetFirstChild(found, cookie);
        ++i;
    }
    for (; i < paths.size(); ++i)
        deepest = InsertNode(new FolderItem(IMG_FOLDER, IMG_FOLDER_OPEN, names[i], paths[i]), deepest);
    Pick(deepest);
}

wxTreeItemId CFolderTree::FindByPath(const wxTreeItemId& start, const std::string& path) const
{
    for (wxTreeItemId item = start; item.IsOk(); item = GetNextSibling(item))
    {
        const FolderItem* record = Record(item);
        if (record && record->path == path)
            return item;
        wxTreeItemIdValue cookie;
        const wxTreeItemId child = GetFirstChild(item, cookie);
        if (child.IsOk())
        {
            const wxTreeItemId found = FindByPath(child, path);
            if (found.IsOk())
                return found;
        }
    }
    return wxTreeItemId();
}

wxTreeItemId CFolderTree::FindSibling(const wxTreeItemId& start, const std::string& path) const
{
    for (wxTreeItemId item = start; item.IsOk(); item = GetNextSibling(item))
    {
        const FolderItem* record = Record(item);
        if (record && record->path == path)
            return item;
    }
    return wxTreeItemId();
}

void CFolderTree::EnsureVisible(const wxTreeItemId& item)
{
    // The control's own scrolling would hide the top rows while the
    // drop-down unrolls, and would creep along under the mouse.
    const wxTreeItemId root = GetRootItem();
    for (wxTreeItemId up = GetItemParent(item); up.IsOk() && up != root; up = GetItemParent(up))
        Expand(up);
    if (!m_following && m_pOwner && m_pOwner->IsDropDownShown() && !m_pOwner->IsUnrolling())
        ScrollIntoView(item);
}

void CFolderTree::ScrollIntoView(const wxTreeItemId& item, bool sidewaysOnlyIfHidden)
{
#ifndef __WXMSW__
    // Rows inserted since the last paint: no places and no scroll range yet.
    if (m_dirty)
    {
        CalculatePositions();
        AdjustMyScrollbars();
    }
#endif
    wxRect label;
    int unitX = 0, unitY = 0;
    GetScrollPixelsPerUnit(&unitX, &unitY);
    if (!item.IsOk() || unitX <= 0 || unitY <= 0 || !GetBoundingRect(item, label, true))
        return;
    const wxPoint at = CalcUnscrolledPosition(label.GetPosition());
    const int left = at.x - m_images.GetSize().x - 4;
    const int right = at.x + label.width;
    const wxSize client = GetClientSize();
    int x = 0, y = 0;
    GetViewStart(&x, &y);
    const bool imageShows = left >= x * unitX && at.x <= x * unitX + client.x;
    // The far edge first, then the near one, which wins when both cannot show.
    if (!(sidewaysOnlyIfHidden && imageShows))
    {
        if (right > x * unitX + client.x)
            x = (right - client.x + unitX - 1) / unitX;
        if (left < x * unitX)
            x = std::max(0, left) / unitX;
    }
    if (at.y + label.height > y * unitY + client.y)
        y = (at.y + label.height - client.y + unitY - 1) / unitY;
    if (at.y < y * unitY)
        y = std::max(0, at.y) / unitY;
    Scroll(x, y);
}

void CFolderTree::Pick(const wxTreeItemId& item)
{
    m_picked = item;
    if (item.IsOk())
    {
        SelectItem(item);
        EnsureVisible(item);
    }
}

void CFolderTree::PickAndClose()
{
    if (m_pOwner)
        m_pOwner->CloseDropDown();
    if (!GetParent())
        return;
    SendToMainWindow(WM_LOCATIONPICKED, Record(m_picked));
    if (m_pOwner && m_pOwner->GetCtrl())
    {
        m_pOwner->GetCtrl()->SetFocus();
        m_pOwner->GetCtrl()->Refresh();
    }
}

// "Visible" here means not inside a collapsed item, whether the drop-down
// is open or not; the control's own notion depends on what is on screen.
wxTreeItemId CFolderTree::NextVisible(const wxTreeItemId& item) const
{
    if (!item.IsOk())
        return wxTreeItemId();
    if (IsExpanded(item) && ItemHasChildren(item))
    {
        wxTreeItemIdValue cookie;
        return GetFirstChild(item, cookie);
    }
    const wxTreeItemId root = GetRootItem();
    for (wxTreeItemId up = item; up.IsOk() && up != root; up = GetItemParent(up))
    {
        const wxTreeItemId next = GetNextSibling(up);
        if (next.IsOk())
            return next;
    }
    return wxTreeItemId();
}

wxTreeItemId CFolderTree::PrevVisible(const wxTreeItemId& item) const
{
    if (!item.IsOk())
        return wxTreeItemId();
    wxTreeItemId prev = GetPrevSibling(item);
    if (prev.IsOk())
    {
        while (IsExpanded(prev) && ItemHasChildren(prev))
            prev = GetLastChild(prev);
        return prev;
    }
    const wxTreeItemId parent = GetItemParent(item);
    if (!parent.IsOk() || parent == GetRootItem())
        return wxTreeItemId();
    return parent;
}

int CFolderTree::Step(bool forward)
{
    const wxTreeItemId next = forward ? NextVisible(m_picked) : PrevVisible(m_picked);
    if (!next.IsOk())
        return 0;
    Pick(next);
    PickAndClose();
    return 1;
}

void CFolderTree::FreeItems()
{
    // The tree deletes each item's record with the item.
    m_picked = wxTreeItemId();
    m_desktop = wxTreeItemId();
    m_myComputer = wxTreeItemId();
    m_myDocuments = wxTreeItemId();
    DeleteAllItems();
}

void CFolderTree::OnMotion(wxMouseEvent& event)
{
    // The highlight follows the mouse; the pick stays until a click.
    int flags = 0;
    const wxTreeItemId item = HitTest(event.GetPosition(), flags);
    if (item.IsOk() && item != GetSelection())
    {
        m_following = true;
        SelectItem(item);
        m_following = false;
    }
    event.Skip();
}

void CFolderTree::OnLeftDown(wxMouseEvent& event)
{
    int flags = 0;
    const wxTreeItemId item = HitTest(event.GetPosition(), flags);
    m_picked = item.IsOk() ? item : GetSelection();
    PickAndClose();
}

void CFolderTree::OnKeyDown(wxKeyEvent& event)
{
    switch (event.GetKeyCode())
    {
    case WXK_ESCAPE:
        if (m_pOwner)
            m_pOwner->CloseDropDown();
        break;
    case WXK_RETURN:
    case WXK_NUMPAD_ENTER:
        m_picked = GetSelection();
        PickAndClose();
        break;
    default:
        event.Skip();
        break;
    }
}

void CFolderTree::OnExpanded(wxTreeEvent& event)
{
    const FolderItem* record = Record(event.GetItem());
    const int image = record ? record->openImage : IMG_FOLDER_OPEN;
    SetItemImage(event.GetItem(), image, wxTreeItemIcon_Normal);
    SetItemImage(event.GetItem(), image, wxTreeItemIcon_Selected);
}

void CFolderTree::OnCollapsed(wxTreeEvent& event)
{
    const FolderItem* record = Record(event.GetItem());
    const int image = record ? record->image : IMG_FOLDER;
    SetItemImage(event.GetItem(), image, wxTreeItemIcon_Normal);
    SetItemImage(event.GetItem(), image, wxTreeItemIcon_Selected);
}
