#include "browser/LocationBox.h"

#include "app/Display.h"
#include "app/Globals.h"

#include <wx/dcbuffer.h>
#include <wx/imaglist.h>
#include <wx/renderer.h>
#include <wx/settings.h>

CLocationBoxCtrl::CLocationBoxCtrl(wxWindow* parent, wxWindowID id, const wxPoint& pos, const wxSize& size)
    : wxControl(parent, id, pos, size, wxBORDER_NONE | wxWANTS_CHARS)
{
    SetBackgroundStyle(wxBG_STYLE_PAINT);
    Bind(wxEVT_PAINT, &CLocationBoxCtrl::OnPaint, this);
}

wxSize CLocationBoxCtrl::DoGetBestSize() const
{
    return FromDIP(wxSize(180, 24));
}

void CLocationBoxCtrl::OnPaint(wxPaintEvent&)
{
    wxAutoBufferedPaintDC dc(this);
    const wxRect all = GetClientRect();
    wxRendererNative& renderer = wxRendererNative::Get();

    dc.SetBackground(wxBrush(GetParent()->GetBackgroundColour()));
    dc.Clear();
    renderer.DrawTextCtrl(this, dc, all, HasFocus() ? int(wxCONTROL_FOCUSED) : 0);

    const int buttonWidth = wxSystemSettings::GetMetric(wxSYS_VSCROLL_X, this) + 4;
    wxRect button(all.GetRight() - buttonWidth, all.y + 1, buttonWidth, all.height - 2);
    renderer.DrawComboBoxDropButton(this, dc, button);

    int x = all.x + 4;
    const int image = g_locationBox.FaceImage();
    wxImageList* images = g_locationBox.GetImageList();
    if (images && image >= 0 && image < images->GetImageCount())
    {
        images->Draw(image, dc, x, all.y + (all.height - 16) / 2, wxIMAGELIST_DRAW_NORMAL, true);
        x += g_locationBox.m_iconSize + 4;
    }
    dc.SetFont(GetFont());
    dc.SetTextForeground(wxSystemSettings::GetColour(wxSYS_COLOUR_WINDOWTEXT));
    const wxString text = ToDisplay(g_locationBox.FaceText());
    const wxRect textRect(x, all.y, button.x - x - 2, all.height);
    dc.SetClippingRegion(textRect);
    dc.DrawLabel(text, textRect, wxALIGN_LEFT | wxALIGN_CENTER_VERTICAL);
    dc.DestroyClippingRegion();
}

void CLocationBox::CreateDropDown(int width, int height)
{
    m_dropWidth = width > 0 ? width : (m_ctrl ? m_ctrl->GetClientSize().x : 0);
    m_dropHeight = height > 0 ? height : 100;
}

void CLocationBox::SetFace(const std::string& text, int image)
{
    m_faceText = text;
    m_faceImage = image;
    if (m_ctrl)
        m_ctrl->Refresh();
}
