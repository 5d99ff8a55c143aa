// SPDX-License-Identifier: GPL-3.0-or-later
// The location box above the directory list: shows the current location with
// its image and drops down the folder tree.
#pragma once

#include <wx/control.h>
#include <wx/imaglist.h>
#include <wx/popupwin.h>
#include <wx/timer.h>
#include <wx/treectrl.h>

#include <memory>
#include <string>

class CLocationBox;

// One folder-tree item's record: what the item shows and the location it
// stands for. Owned by the tree.
class FolderItem : public wxTreeItemData
{
public:
    FolderItem(int image_, int openImage_, const std::string& text_, const std::string& path_)
        : image(image_), openImage(openImage_), text(text_), path(path_)
    {
    }

    int image;
    int openImage;
    std::string text;
    std::string path;
};

// The drop-down tree: Desktop; under it My Documents and My Computer; under
// My Computer the drives; below a drive the chain of the current folder.
// The root is hidden, so the tree can hold more than one top-level item.
class CFolderTree : public wxTreeCtrl
{
public:
    explicit CFolderTree(wxWindow* parent);

    void InitImages();
    void FillRoots(CLocationBox* owner);
    // Appends an item as the last child of parent (top level when parent is
    // not valid); the tree takes the record.
    wxTreeItemId InsertNode(FolderItem* record, const wxTreeItemId& parent);
    // Grows the chain of items of a folder path below its drive and picks
    // the last one.
    void InsertFolderPath(const std::string& path);
    // Depth first from start: start, its children's subtrees, then its
    // following siblings' subtrees.
    wxTreeItemId FindByPath(const wxTreeItemId& start, const std::string& path) const;
    // start and its following siblings.
    wxTreeItemId FindSibling(const wxTreeItemId& start, const std::string& path) const;
    void Pick(const wxTreeItemId& item);
    // Closes the drop-down and tells the main window about the pick.
    void PickAndClose();
    // Picks the next (or previous) item not inside a collapsed one; 0 when
    // there is none.
    int Step(bool forward);
    // Removes every item with its record.
    void FreeItems();

    FolderItem* Record(const wxTreeItemId& item) const;
    wxTreeItemId FirstTopLevelItem() const;
    wxTreeItemId NextVisible(const wxTreeItemId& item) const;
    wxTreeItemId PrevVisible(const wxTreeItemId& item) const;
    // Every item, expanded or not, the hidden root aside.
    int ItemCount() const;
    // The height of one row, as the control draws it.
    int RowHeight() const;
    // The right edge of the widest visible row's label, unscrolled.
    int WidestRow();
    // Expands the item's ancestors; scrolls only in the drop-down open at
    // its full height, and not for the highlight that follows the mouse.
    void EnsureVisible(const wxTreeItemId& item) override;
    // Scrolls, both ways, as little as brings the item's image and label
    // into view; sideways only if its image is out of view, when asked.
    void ScrollIntoView(const wxTreeItemId& item, bool sidewaysOnlyIfHidden = false);

    wxTreeItemId m_picked;
    wxImageList m_images;
    CLocationBox* m_pOwner = nullptr;
    wxTreeItemId m_desktop;
    wxTreeItemId m_myComputer;
    wxTreeItemId m_myDocuments;

private:
    bool m_following = false;   // the highlight is following the mouse
    void OnMotion(wxMouseEvent& event);
    void OnLeftDown(wxMouseEvent& event);
    void OnKeyDown(wxKeyEvent& event);
    void OnExpanded(wxTreeEvent& event);
    void OnCollapsed(wxTreeEvent& event);
};

// The pop-up window that holds the tree. A click outside it closes it.
class CDropDownWindow : public wxPopupTransientWindow
{
public:
    explicit CDropDownWindow(wxWindow* parent);
    bool ProcessLeftDown(wxMouseEvent& event) override;

protected:
    void OnDismiss() override;

private:
    void OnSize(wxSizeEvent& event);
};

// The box's face: image, text and a drop-down button, painted by us.
class CLocationBoxCtrl : public wxControl
{
public:
    CLocationBoxCtrl(wxWindow* parent, wxWindowID id, const wxPoint& pos, const wxSize& size);

protected:
    wxSize DoGetBestSize() const override;

private:
    void OnPaint(wxPaintEvent&);
    void OnLeftDown(wxMouseEvent&);
    void OnKeyDown(wxKeyEvent& event);
    void OnFocus(wxFocusEvent& event);
    void OnTimer(wxTimerEvent& event);
};

class CLocationBox
{
public:
    CLocationBox() = default;
    ~CLocationBox();
    CLocationBox(const CLocationBox&) = delete;
    CLocationBox& operator=(const CLocationBox&) = delete;

    void Attach(CLocationBoxCtrl* ctrl) { m_ctrl = ctrl; }
    void Detach();
    CLocationBoxCtrl* GetCtrl() const { return m_ctrl; }

    // Creates the drop-down folder tree; width 0 means the box's width.
    void CreateDropDown(int width, int height);
    // Starts unrolling the drop-down below the box.
    void OpenDropDown();
    // Hides the drop-down; nothing is picked.
    void CloseDropDown();
    bool IsDropDownShown() const;
    bool IsUnrolling() const;
    CDropDownWindow* GetDropDown() const { return m_dropDown; }
    CFolderTree* GetTree() const { return m_tree; }

    void RebuildTree();
    void ShowPath(const std::string& path);
    void SelectDesktop();
    void SelectMyDocuments();
    void SelectMyComputer();

    // What the box's control passes on.
    void OnBoxClick(long time = 0);   // the click's time, when known
    bool OnBoxKey(const wxKeyEvent& key);   // true when the key was used
    void OnDropTimer();
    // The drop-down went away by a click outside it (clickTime: that
    // click's time, 0 when unknown).
    void OnDropDownDismissed(long clickTime = 0);

    // What the face shows: the picked item's record.
    std::string FaceText() const;
    int FaceImage() const;
    // The images the face is drawn from: the tree's own list, or the main
    // window's while there is no tree.
    wxImageList* FaceImages() const;
    void SetImageList(wxImageList* images) { m_images = images; }
    wxImageList* GetImageList() const { return m_images; }

    int m_iconSize = 16;
    int m_dropHeight = 100;
    int m_dropWidth = 0;
    CFolderTree* m_tree = nullptr;   // a window: destroyed with the main window
    wxRect m_dropRect;               // screen coordinates while unrolling

    // What the drop-down grows by per timer tick and per item: a row and a
    // pixel, so that the tree's top margin and border leave every row whole.
    int DropStep() const;

private:
    int m_dropFull = 0;              // the height it ends at
    long m_closingClick = 0;         // time of the click that last closed it
    CLocationBoxCtrl* m_ctrl = nullptr;
    wxImageList* m_images = nullptr;
    CDropDownWindow* m_dropDown = nullptr;
    std::unique_ptr<wxTimer> m_timer;
};

