// The location box above the directory list: shows the current location with
// its image and drops down the folder tree.
#pragma once

#include <wx/control.h>
#include <wx/treebase.h>

#include <string>

class wxImageList;

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

// The box's face: image, text and a drop-down button, painted by us.
class CLocationBoxCtrl : public wxControl
{
public:
    CLocationBoxCtrl(wxWindow* parent, wxWindowID id, const wxPoint& pos, const wxSize& size);

protected:
    wxSize DoGetBestSize() const override;

private:
    void OnPaint(wxPaintEvent&);
};

class CLocationBox
{
public:
    CLocationBox() = default;
    CLocationBox(const CLocationBox&) = delete;
    CLocationBox& operator=(const CLocationBox&) = delete;

    void Attach(CLocationBoxCtrl* ctrl) { m_ctrl = ctrl; }
    void Detach() { m_ctrl = nullptr; }
    CLocationBoxCtrl* GetCtrl() const { return m_ctrl; }

    // Creates the drop-down folder tree; width 0 means the box's width.
    void CreateDropDown(int width, int height);

    // What the face shows.
    std::string FaceText() const { return m_faceText; }
    int FaceImage() const { return m_faceImage; }
    void SetFace(const std::string& text, int image);
    void SetImageList(wxImageList* images) { m_images = images; }
    wxImageList* GetImageList() const { return m_images; }

    int m_iconSize = 16;
    int m_dropHeight = 100;
    int m_dropWidth = 0;

private:
    CLocationBoxCtrl* m_ctrl = nullptr;
    wxImageList* m_images = nullptr;
    std::string m_faceText;
    int m_faceImage = -1;
};
