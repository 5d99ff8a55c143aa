// SPDX-License-Identifier: GPL-3.0-or-later
#include "browser/LocationBox.h"

#include "app/Accessible.h"
#include "app/Display.h"
#include "app/Globals.h"
#include "app/Ids.h"

#include <wx/dcbuffer.h>
#include <wx/display.h>
#include <wx/renderer.h>
#include <wx/settings.h>

#ifdef __WXGTK__
#include <gtk/gtk.h>
#endif

#include <algorithm>
#include <vector>

// ---------------------------------------------------------------------------
// The drop-down window

CDropDownWindow::CDropDownWindow(wxWindow* parent) : wxPopupTransientWindow(parent, wxBORDER_NONE)
{
    Bind(wxEVT_SIZE, &CDropDownWindow::OnSize, this);
}

void CDropDownWindow::OnSize(wxSizeEvent& event)
{
    // The tree is the only child and fills the window.
    for (wxWindow* child : GetChildren())
        child->SetSize(GetClientSize());
    event.Skip();
}

#ifdef __WXGTK__
namespace
{
// While the drop-down is open, its pointer grab takes every click. A click
// outside closes it and then goes on to what it was aimed at, as if there
// had been no drop-down; a click on the box only closes it. Returns the
// click's time, 0 when the drop-down did not close by a click.
long PassOnClosingClick(const wxWindow* box)
{
    GdkEvent* press = gtk_get_current_event();
    if (!press)
        return 0;
    if (press->type != GDK_BUTTON_PRESS)
    {
        gdk_event_free(press);
        return 0;
    }
    const long time = static_cast<long>(gdk_event_get_time(press));
    GdkDevice* device = gdk_event_get_device(press);
    gdouble x = 0, y = 0;
    GdkWindow* target = device ? gdk_device_get_window_at_position_double(device, &x, &y) : nullptr;
    const wxWindow* under = wxFindWindowAtPoint(wxGetMousePosition());
    if (target && under && under != box)
    {
        // The copy takes its own reference on its window.
        g_object_unref(press->button.window);
        press->button.window = GDK_WINDOW(g_object_ref(target));
        press->button.x = x;
        press->button.y = y;
        // A quick click (a touchpad tap) has its release waiting already,
        // ahead of the press put back here and perhaps aimed at the drop-down:
        // the press goes first and the release follows it to the same
        // target, or the target would stay pressed.
        gdk_display_sync(gdk_window_get_display(target));
        std::vector<GdkEvent*> waiting;
        while (waiting.size() < 256)
        {
            GdkEvent* next = gdk_event_get();
            if (!next)
                break;
            waiting.push_back(next);
        }
        gdk_event_put(press);
        gint left = 0, top = 0;
        gdk_window_get_origin(target, &left, &top);
        for (GdkEvent* next : waiting)
        {
            if (next->type == GDK_BUTTON_RELEASE && next->button.button == press->button.button &&
                next->button.window != target)
            {
                g_object_unref(next->button.window);
                next->button.window = GDK_WINDOW(g_object_ref(target));
                next->button.x = next->button.x_root - left;
                next->button.y = next->button.y_root - top;
            }
            gdk_event_put(next);
            gdk_event_free(next);
        }
    }
    gdk_event_free(press);
    return time;
}
} // namespace
#endif

bool CDropDownWindow::ProcessLeftDown(wxMouseEvent& event)
{
    // A click outside closes it here, so that the toolkit's own click goes
    // on to its target (see OnDismiss) rather than a copy that only windows
    // of ours would understand.
    const auto* win = static_cast<const wxWindow*>(event.GetEventObject());
    if (win && !GetScreenRect().Contains(win->ClientToScreen(event.GetPosition())))
    {
        DismissAndNotify();
        return true;
    }
    return false;
}

void CDropDownWindow::OnDismiss()
{
    long clickTime = 0;
#ifdef __WXGTK__
    clickTime = PassOnClosingClick(g_locationBox.GetCtrl());
#endif
    g_locationBox.OnDropDownDismissed(clickTime);
}

// ---------------------------------------------------------------------------
// The box

CLocationBoxCtrl::CLocationBoxCtrl(wxWindow* parent, wxWindowID id, const wxPoint& pos, const wxSize& size)
    : wxControl(parent, id, pos, size, wxBORDER_NONE | wxWANTS_CHARS)
{
    SetBackgroundStyle(wxBG_STYLE_PAINT);
    Bind(wxEVT_PAINT, &CLocationBoxCtrl::OnPaint, this);
    // A click opens or closes the drop-down and is not passed on.
    Bind(wxEVT_LEFT_DOWN, &CLocationBoxCtrl::OnLeftDown, this);
    Bind(wxEVT_LEFT_DCLICK, &CLocationBoxCtrl::OnLeftDown, this);
    Bind(wxEVT_KEY_DOWN, &CLocationBoxCtrl::OnKeyDown, this);
    Bind(wxEVT_SET_FOCUS, &CLocationBoxCtrl::OnFocus, this);
    Bind(wxEVT_KILL_FOCUS, &CLocationBoxCtrl::OnFocus, this);
    Bind(wxEVT_TIMER, &CLocationBoxCtrl::OnTimer, this, TIMER_DROPDOWN);
}

wxSize CLocationBoxCtrl::DoGetBestSize() const
{
    return FromDIP(wxSize(180, 24));
}

void CLocationBoxCtrl::OnLeftDown(wxMouseEvent& event)
{
    g_locationBox.OnBoxClick(event.GetTimestamp());
}

void CLocationBoxCtrl::OnKeyDown(wxKeyEvent& event)
{
    if (!g_locationBox.OnBoxKey(event))
        event.Skip();
}

void CLocationBoxCtrl::OnFocus(wxFocusEvent& event)
{
    // The face shows the focus.
    Refresh();
    event.Skip();
}

void CLocationBoxCtrl::OnTimer(wxTimerEvent&)
{
    g_locationBox.OnDropTimer();
}

void CLocationBoxCtrl::OnPaint(wxPaintEvent&)
{
    wxAutoBufferedPaintDC dc(this);
    const wxRect all = GetClientRect();
    wxRendererNative& renderer = wxRendererNative::Get();

    dc.SetBackground(wxBrush(GetParent()->GetBackgroundColour()));
    dc.Clear();
    renderer.DrawTextCtrl(this, dc, all, 0);

    const int buttonWidth = wxSystemSettings::GetMetric(wxSYS_VSCROLL_X, this) + 4;
    const wxRect button(all.GetRight() - buttonWidth, all.y + 1, buttonWidth, all.height - 2);
    renderer.DrawComboBoxDropButton(this, dc, button);

    const int image = g_locationBox.FaceImage();
    wxImageList* images = g_locationBox.FaceImages();
    if (image < 0 || !images)
        return;

    // The item: the inside of the frame, left of the button.
    const wxRect item(all.x + 2, all.y + 2, button.x - all.x - 3, all.height - 4);
    const int iconSize = g_locationBox.m_iconSize;
    if (image < images->GetImageCount())
        images->Draw(image, dc, 4, (all.height - iconSize) / 2, wxIMAGELIST_DRAW_NORMAL, true);

    dc.SetFont(GetFont());
    const wxString text = ToDisplay(g_locationBox.FaceText());
    // A screen reader says what the face shows.
    SetAccessibleDescription(this, text);
    wxRect textRect(item.x + iconSize + 2, item.y + 1, 0, item.height - 2);
    textRect.width = dc.GetTextExtent(text).x + 4;
    dc.SetClippingRegion(item);
    const wxColour windowText = wxSystemSettings::GetColour(wxSYS_COLOUR_WINDOWTEXT);
    if (HasFocus())
    {
        dc.SetBrush(wxBrush(wxSystemSettings::GetColour(wxSYS_COLOUR_HIGHLIGHT)));
        dc.SetPen(*wxTRANSPARENT_PEN);
        dc.DrawRectangle(textRect);
        renderer.DrawFocusRect(this, dc, textRect);
        dc.SetTextForeground(wxColour(static_cast<unsigned char>(~windowText.Red()),
                                      static_cast<unsigned char>(~windowText.Green()),
                                      static_cast<unsigned char>(~windowText.Blue())));
    }
    else
    {
        dc.SetTextForeground(windowText);
    }
    textRect.x += 2;
    textRect.width -= 2;
    dc.DrawLabel(text, textRect, wxALIGN_LEFT | wxALIGN_CENTER_VERTICAL);
    dc.DestroyClippingRegion();
}

// ---------------------------------------------------------------------------
// The box's logic

CLocationBox::~CLocationBox() = default;

void CLocationBox::Detach()
{
    // The windows go with the main window; only forget them here.
    if (m_timer)
        m_timer->Stop();
    m_timer.reset();
    m_tree = nullptr;
    m_dropDown = nullptr;
    m_ctrl = nullptr;
    m_images = nullptr;
    m_dropHeight = 100;
    m_dropWidth = 0;
}

void CLocationBox::CreateDropDown(int width, int height)
{
    wxWindow* parent = m_ctrl ? m_ctrl->GetParent() : nullptr;
    if (parent && !m_dropDown)
    {
        m_dropDown = new CDropDownWindow(parent);
        m_dropDown->SetSize(0, 0, 10, 10);
        m_tree = new CFolderTree(m_dropDown);
        m_tree->SetFont(parent->GetFont());
        m_tree->InitImages();
        m_tree->FillRoots(this);
        m_timer = std::make_unique<wxTimer>(m_ctrl, TIMER_DROPDOWN);
    }
    m_dropWidth = width > 0 ? width : (m_ctrl ? m_ctrl->GetClientSize().x : 0);
    m_dropHeight = height > 0 ? height : 100;
}

bool CLocationBox::IsDropDownShown() const
{
    return m_dropDown && m_dropDown->IsShown();
}

bool CLocationBox::IsUnrolling() const
{
    return m_timer && m_timer->IsRunning();
}

void CLocationBox::OpenDropDown()
{
    if (!m_tree || !m_ctrl || !m_timer)
        return;
    m_timer->Start(5);
    const int step = DropStep();
    m_dropHeight = step * m_tree->ItemCount() - 10;
    const wxRect box = m_ctrl->GetScreenRect();
    m_dropRect = wxRect(box.x + 1, box.y + box.height + 1, m_dropWidth - 3, 0);
    m_dropFull = step * m_tree->ItemCount();

    // It ends at the bottom of the screen's work area, and a tree taller than
    // that scrolls. A label wider than the drop-down gets a horizontal scroll
    // bar, and the drop-down grows by the bar's height so that the last row
    // stays whole. Each bar takes room from the other way.
    const int display = wxDisplay::GetFromWindow(m_ctrl);
    const wxRect work = wxDisplay(display == wxNOT_FOUND ? 0u : static_cast<unsigned>(display)).GetClientArea();
    const int room = std::max(step, work.GetBottom() + 1 - m_dropRect.y);
    const int border = m_tree->GetSize().x - m_tree->GetClientSize().x;
    const int hbar = wxSystemSettings::GetMetric(wxSYS_HSCROLL_Y, m_tree);
    const int vbar = wxSystemSettings::GetMetric(wxSYS_VSCROLL_X, m_tree);
    const int widest = m_tree->WidestRow();
    bool tall = false, wide = false;
    for (int pass = 0; pass < 2; ++pass)
    {
        wide = widest > m_dropRect.width - border - (tall ? vbar : 0);
        tall = m_dropFull + (wide ? hbar : 0) > room;
    }
    m_tree->ShowScrollbars(wide ? wxSHOW_SB_ALWAYS : wxSHOW_SB_NEVER,
                           tall ? wxSHOW_SB_ALWAYS : wxSHOW_SB_NEVER);
    if (wide)
    {
        m_dropHeight += hbar;
        m_dropFull += hbar;
    }
    if (tall)
    {
        m_dropFull = room;
        m_dropHeight = std::min(m_dropHeight, room);
    }
}

int CLocationBox::DropStep() const
{
    return m_tree ? m_tree->RowHeight() + 1 : 15;
}

void CLocationBox::OnDropTimer()
{
    if (!m_dropDown || !m_timer)
        return;
    m_dropRect.height = std::min(m_dropRect.height + DropStep(), m_dropFull);
    m_dropDown->SetSize(m_dropRect);
    m_tree->Scroll(0, 0);
    if (!m_dropDown->IsShown())
        m_dropDown->Popup(m_tree);
    if (m_dropRect.height >= m_dropHeight)
    {
        m_timer->Stop();
        // Unrolled: the highlighted item in view, where the keys start; the
        // view stays at the left while that shows its image.
        m_tree->ScrollIntoView(m_tree->GetSelection(), true);
    }
}

void CLocationBox::CloseDropDown()
{
    if (m_timer)
        m_timer->Stop();
    const bool shown = IsDropDownShown();
    if (shown)
        m_dropDown->Dismiss();
    if (shown && m_ctrl)
    {
        m_ctrl->SetFocus();
        m_ctrl->Refresh();
    }
}

void CLocationBox::OnDropDownDismissed(long clickTime)
{
    m_closingClick = clickTime;
    // Closed by a click outside: nothing is picked, and a timer still
    // running would show it again.
    if (m_timer)
        m_timer->Stop();
    if (!m_ctrl)
        return;
    // The keyboard belonged to the tree; give it back to the box.
    const wxWindow* focus = wxWindow::FindFocus();
    if (focus && (focus == m_tree || wxGetTopLevelParent(const_cast<wxWindow*>(focus)) == m_dropDown))
        m_ctrl->SetFocus();
    m_ctrl->Refresh();
}

void CLocationBox::OnBoxClick(long time)
{
    // A click on the box soon after the one that opened the drop-down closes
    // it and also makes a double click, which must not open it again.
    if (time != 0 && time == m_closingClick)
        return;
    if (IsDropDownShown())
        CloseDropDown();
    else
        OpenDropDown();
}

bool CLocationBox::OnBoxKey(const wxKeyEvent& key)
{
    if (!m_tree)
        return false;
    const int code = key.GetKeyCode();
    const bool down = code == WXK_DOWN || code == WXK_NUMPAD_DOWN;
    if (down && key.AltDown())
    {
        OpenDropDown();
        return true;
    }
    // Alt+arrows are the system's; Shift and Ctrl change nothing.
    if (key.AltDown())
        return false;
    if (down || code == WXK_RIGHT || code == WXK_NUMPAD_RIGHT)
        m_tree->Step(true);
    else if (code == WXK_UP || code == WXK_NUMPAD_UP || code == WXK_LEFT || code == WXK_NUMPAD_LEFT)
        m_tree->Step(false);
    else
        return false;
    if (m_ctrl)
        m_ctrl->Refresh();
    return true;
}

void CLocationBox::RebuildTree()
{
    if (!m_tree)
        return;
    m_tree->FreeItems();
    m_tree->FillRoots(this);
}

void CLocationBox::ShowPath(const std::string& path)
{
    if (!m_tree)
        return;
    m_tree->InsertFolderPath(path);
    if (m_ctrl)
        m_ctrl->Refresh();
}

void CLocationBox::SelectDesktop()
{
    if (m_tree)
        m_tree->Pick(m_tree->m_desktop);
}

void CLocationBox::SelectMyDocuments()
{
    if (m_tree)
        m_tree->Pick(m_tree->m_myDocuments);
}

void CLocationBox::SelectMyComputer()
{
    if (m_tree)
        m_tree->Pick(m_tree->m_myComputer);
}

std::string CLocationBox::FaceText() const
{
    const FolderItem* record = m_tree ? m_tree->Record(m_tree->m_picked) : nullptr;
    return record ? record->text : std::string();
}

int CLocationBox::FaceImage() const
{
    const FolderItem* record = m_tree ? m_tree->Record(m_tree->m_picked) : nullptr;
    return record ? record->image : -1;
}

wxImageList* CLocationBox::FaceImages() const
{
    return m_tree ? &m_tree->m_images : m_images;
}
