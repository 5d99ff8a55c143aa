// SPDX-License-Identifier: GPL-3.0-or-later
// Accessibility on GTK (ATK, which the AT-SPI bridge puts on the bus).
//
// wx's report list is drawn by wx on a plain GTK container, whose accessible
// object is an empty panel. For the window that shows a list's rows we hand
// out an accessible table of our own instead (RowsTableGtk): the
// GtkWidgetClass's get_accessible is wrapped once for that widget's class,
// and widgets marked with our data get the table. Changes of rows, texts,
// selection and current row are told by the list's events or found when the
// list goes idle, and only while a table exists.
#include "app/Accessible.h"

#include <wx/choice.h>
#include <wx/combobox.h>
#include <wx/listctrl.h>
#include <wx/slider.h>
#include <wx/stattext.h>
#include <wx/textctrl.h>
#include <wx/toplevel.h>
#include <wx/window.h>

#ifdef __WXGTK__

#include "app/RowsTableGtk.h"

#include <gtk/gtk-a11y.h>
#include <gtk/gtk.h>

#include <algorithm>
#include <map>
#include <memory>
#include <string>

namespace
{
GQuark RowsQuark()
{
    static const GQuark quark = g_quark_from_static_string("tavoly-rows-data");
    return quark;
}

RowsData* DataOf(GtkWidget* widget)
{
    return static_cast<RowsData*>(g_object_get_qdata(G_OBJECT(widget), RowsQuark()));
}

// ---- the widget's get_accessible -------------------------------------------

using GetAccessibleFn = AtkObject* (*)(GtkWidget*);
std::map<GType, GetAccessibleFn> g_originals;   // by the class we wrapped

AtkObject* GetAccessible(GtkWidget* widget)
{
    RowsData* d = DataOf(widget);
    if (d != nullptr && d->list != nullptr)
    {
        if (d->table == nullptr)
            d->table = NewRowsTable(d);
        return d->table;
    }
    // A class derived from one we wrapped inherits the wrapper.
    for (GType type = G_OBJECT_TYPE(widget); type != 0; type = g_type_parent(type))
    {
        const auto it = g_originals.find(type);
        if (it != g_originals.end())
            return it->second(widget);
    }
    // Not reached: every class that has the wrapper got it from one we wrapped.
    auto* plain = static_cast<GtkWidgetClass*>(g_type_class_peek(GTK_TYPE_WIDGET));
    return plain->get_accessible(widget);
}

void WrapGetAccessible(GtkWidget* widget)
{
    auto* klass = GTK_WIDGET_GET_CLASS(widget);
    if (klass->get_accessible == GetAccessible)
        return;
    g_originals[G_OBJECT_TYPE(widget)] = klass->get_accessible;
    klass->get_accessible = GetAccessible;
}

void FollowList(RowsData* d)
{
    if (d->list == nullptr || d->table == nullptr)
        return;
    wxListCtrl* list = d->list;
    const long count = list->GetItemCount();
    if (d->count < 0 || count != d->count)
    {
        // A walk of the rows, but only when their number changes.
        d->eventCurrent = CurrentRow(d);
        if (d->count >= 0)
        {
            DropCells(d);
            g_signal_emit_by_name(d->table, "model-changed");
            d->selectionChanged = true;
            d->current = -1;
        }
        else
        {
            // The first look: nothing has changed yet for a reader.
            d->current = d->eventCurrent;
            d->focused = HasFocus(d);
            d->selected = list->GetSelectedItemCount();
        }
        d->count = count;
    }
    // Texts that changed in place (a rename writes Name, State and Path), in
    // the rows on view: a reader holding a cell elsewhere reads it anew.
    const long top = std::max(0L, list->GetTopItem());
    const auto end = d->cells.lower_bound({top + list->GetCountPerPage() + 1, 0});
    for (auto it = d->cells.lower_bound({top, 0}); it != end; ++it)
        NotifyNameChange(it->second);
    // The in-place editor of a name is named for its column.
    wxWindow* edit = list->GetEditControl();
    if (edit != nullptr && edit != d->edit)
    {
        wxListItem heading;
        heading.SetMask(wxLIST_MASK_TEXT);
        list->GetColumn(0, heading);
        SetAccessibleName(edit, heading.GetText());
    }
    d->edit = edit;
    const long selected = list->GetSelectedItemCount();
    if (d->selectionChanged || selected != d->selected)
        g_signal_emit_by_name(d->table, "selection-changed");
    d->selectionChanged = false;
    d->selected = selected;
    const long current = d->eventCurrent;
    const bool focused = HasFocus(d);
    if (current != d->current || focused != d->focused)
    {
        if (d->focused)
            CellFocused(d, d->current, FALSE);
        d->current = current;
        d->focused = focused;
        if (focused && current >= 0)
        {
            AtkObject* cell = RefCell(d, current, 0);
            if (cell)
            {
                atk_object_notify_state_change(cell, ATK_STATE_FOCUSED, TRUE);
                g_signal_emit_by_name(d->table, "active-descendant-changed", cell);
                g_object_unref(cell);
            }
        }
    }
}

GtkWidget* FocusWidget(wxWindow* window)
{
    return window->m_wxwindow ? window->m_wxwindow : window->GetConnectWidget();
}
} // namespace

void SetAccessibleName(wxWindow* window, const wxString& name, AccessibleRole role)
{
    GtkWidget* widget = window->GetConnectWidget();
    if (widget == nullptr)
        return;
    AtkObject* accessible = gtk_widget_get_accessible(widget);
    if (accessible == nullptr)
        return;
    if (role == ACC_ROLE_COMBO_BOX)
        atk_object_set_role(accessible, ATK_ROLE_COMBO_BOX);
    else if (role == ACC_ROLE_LINK)
        atk_object_set_role(accessible, ATK_ROLE_LINK);
    atk_object_set_name(accessible, name.utf8_string().c_str());
}

void NameFieldsByTheirLabels(wxWindow* parent)
{
    wxStaticText* label = nullptr;
    for (wxWindow* child : parent->GetChildren())
    {
        const bool field = dynamic_cast<wxTextCtrl*>(child) || dynamic_cast<wxChoice*>(child) ||
                           dynamic_cast<wxComboBox*>(child) || dynamic_cast<wxSlider*>(child);
        if (field && label != nullptr)
        {
            GtkWidget* labelWidget = label->GetHandle();
            GtkWidget* fieldWidget = child->GetConnectWidget();
            SetAccessibleName(child, label->GetLabelText());
            if (labelWidget && fieldWidget)
            {
                AtkObject* from = gtk_widget_get_accessible(labelWidget);
                AtkObject* to = gtk_widget_get_accessible(fieldWidget);
                atk_object_add_relationship(from, ATK_RELATION_LABEL_FOR, to);
                atk_object_add_relationship(to, ATK_RELATION_LABELLED_BY, from);
            }
        }
        label = dynamic_cast<wxStaticText*>(child);
    }
}

void SetAccessibleDescription(wxWindow* window, const wxString& text)
{
    GtkWidget* widget = window->GetConnectWidget();
    AtkObject* accessible = widget ? gtk_widget_get_accessible(widget) : nullptr;
    if (accessible == nullptr)
        return;
    const std::string utf8 = text.utf8_string();
    const gchar* now = atk_object_get_description(accessible);
    if (now == nullptr || utf8 != now)
        atk_object_set_description(accessible, utf8.c_str());
}

void ExposeRows(wxListCtrl* list, wxWindow* rowsWindow, const wxString& name)
{
    GtkWidget* widget = FocusWidget(rowsWindow);
    if (widget == nullptr || DataOf(widget) != nullptr)
        return;
    auto* d = new RowsData;
    d->list = list;
    d->rows = rowsWindow;
    d->widget = widget;
    d->name = name.utf8_string();
    g_object_set_qdata(G_OBJECT(widget), RowsQuark(), d);
    WrapGetAccessible(widget);
    // The list outlives d: while it is destroyed it still sends events.
    d->handle = std::make_shared<RowsData*>(d);
    const std::shared_ptr<RowsData*> handle = d->handle;
    list->Bind(wxEVT_IDLE, [handle](wxIdleEvent& event) {
        if (*handle)
            FollowList(*handle);
        event.Skip();
    });
    list->Bind(wxEVT_LIST_ITEM_FOCUSED, [handle](wxListEvent& event) {
        if (*handle)
            (*handle)->eventCurrent = event.GetIndex();
        event.Skip();
    });
    const auto selection = [handle](wxListEvent& event) {
        if (*handle)
            (*handle)->selectionChanged = true;
        event.Skip();
    };
    list->Bind(wxEVT_LIST_ITEM_SELECTED, selection);
    list->Bind(wxEVT_LIST_ITEM_DESELECTED, selection);
}

void StopExposingRows(wxWindow* rowsWindow)
{
    GtkWidget* widget = FocusWidget(rowsWindow);
    RowsData* d = widget ? DataOf(widget) : nullptr;
    if (d == nullptr)
        return;
    d->list = nullptr;
    *d->handle = nullptr;
    ForgetRowsTable(d);
    g_object_set_qdata(G_OBJECT(widget), RowsQuark(), nullptr);
    delete d;
}

#else

void SetAccessibleName(wxWindow*, const wxString&, AccessibleRole) {}
void NameFieldsByTheirLabels(wxWindow*) {}
void SetAccessibleDescription(wxWindow*, const wxString&) {}
void ExposeRows(wxListCtrl*, wxWindow*, const wxString&) {}
void StopExposingRows(wxWindow*) {}

#endif
