// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/FocusMark.h"

#include <wx/dcclient.h>
#include <wx/listctrl.h>
#include <wx/renderer.h>

namespace
{
// wx names the list as the focus while its row window has it.
bool HasFocus(const wxListCtrl* list, const wxWindow* rows)
{
    const wxWindow* focus = wxWindow::FindFocus();
    return focus && (focus == list || focus == rows);
}
} // namespace

void KeepFocusRow(wxListCtrl* list, wxWindow* rows)
{
    if (!list || !rows || !HasFocus(list, rows) || list->GetItemCount() == 0)
        return;
    if (list->GetNextItem(-1, wxLIST_NEXT_ALL, wxLIST_STATE_FOCUSED) < 0)
        list->SetItemState(0, wxLIST_STATE_FOCUSED, wxLIST_STATE_FOCUSED);
}

void ShowFocusMark(wxListCtrl* list, wxWindow* rows)
{
    // The list draws nothing while it is empty, so focus going or coming
    // would leave no trace there.
    auto focusChanged = [list, rows](wxFocusEvent& event) {
        if (list->GetItemCount() == 0)
            rows->Refresh();
        else if (event.GetEventType() == wxEVT_SET_FOCUS)
            list->CallAfter([list, rows] { KeepFocusRow(list, rows); });
        event.Skip();
    };
    rows->Bind(wxEVT_SET_FOCUS, focusChanged);
    rows->Bind(wxEVT_KILL_FOCUS, focusChanged);
    // Drawn before the list paints, which it does not while empty; the
    // background is already there.
    rows->Bind(wxEVT_PAINT, [list, rows](wxPaintEvent& event) {
        if (list->GetItemCount() == 0 && HasFocus(list, rows))
        {
            wxPaintDC dc(rows);
            wxRect frame(rows->GetClientSize());
            frame.Deflate(2);
            wxRendererNative::Get().DrawFocusRect(rows, dc, frame, wxCONTROL_FOCUSED);
        }
        event.Skip();
    });
}
