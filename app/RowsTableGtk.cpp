// SPDX-License-Identifier: GPL-3.0-or-later
// The table and its cells, as ATK objects. The cells are made when a screen
// reader asks for them (a list may hold 100,000 rows) and read their texts
// from the list itself; the table says it manages its descendants, so the
// bridge caches none of them.
#include <wx/defs.h>

#ifdef __WXGTK__

#include "app/RowsTableGtk.h"

#include <wx/listctrl.h>
#include <wx/toplevel.h>
#include <wx/window.h>

#include <gtk/gtk-a11y.h>
#include <gtk/gtk.h>

#include <cstring>

namespace
{
bool Alive(const RowsData* d)
{
    return d != nullptr && d->list != nullptr;
}

long Columns(const RowsData* d)
{
    return Alive(d) ? static_cast<long>(d->list->GetColumnCount()) : 0;
}

long Rows(const RowsData* d)
{
    return Alive(d) ? d->list->GetItemCount() : 0;
}

bool IsRowSelected(const RowsData* d, long row)
{
    return Alive(d) && row >= 0 && row < Rows(d) &&
           d->list->GetItemState(row, wxLIST_STATE_SELECTED) != 0;
}

// The n-th selected row (from 0), or -1.
long NthSelectedRow(const RowsData* d, long n)
{
    if (!Alive(d))
        return -1;
    long row = -1;
    for (long i = 0; i <= n; ++i)
    {
        row = d->list->GetNextItem(row, wxLIST_NEXT_ALL, wxLIST_STATE_SELECTED);
        if (row < 0)
            return -1;
    }
    return row;
}

void SelectRow(RowsData* d, long row, bool select)
{
    if (!Alive(d) || row < 0 || row >= Rows(d))
        return;
    d->list->SetItemState(row, select ? wxLIST_STATE_SELECTED : 0, wxLIST_STATE_SELECTED);
}

// ---- cells -----------------------------------------------------------------

struct RowsCell
{
    AtkObject parent;
    RowsData* data;   // null once the cell no longer stands for a row
    long row;
    long column;
    gchar* text;      // what get_name last returned
};

struct RowsCellClass
{
    AtkObjectClass parent_class;
};

GType RowsCellType();

RowsCell* AsCell(gpointer object)
{
    return G_TYPE_CHECK_INSTANCE_CAST(object, RowsCellType(), RowsCell);
}

// The cell's text now; false when it has none (the cell is gone).
bool CellText(const RowsCell* cell, std::string& text)
{
    const RowsData* d = cell->data;
    if (!Alive(d) || cell->row >= Rows(d) || cell->column >= Columns(d))
        return false;
    text = d->list->GetItemText(cell->row, static_cast<int>(cell->column)).utf8_string();
    return true;
}

const gchar* CellGetName(AtkObject* object)
{
    RowsCell* cell = AsCell(object);
    std::string text;
    if (CellText(cell, text))
    {
        g_free(cell->text);
        cell->text = g_strdup(text.c_str());
    }
    return cell->text ? cell->text : "";
}

gint CellIndexInParent(AtkObject* object)
{
    const RowsCell* cell = AsCell(object);
    return static_cast<gint>(cell->row * Columns(cell->data) + cell->column);
}

AtkStateSet* CellRefStateSet(AtkObject* object)
{
    const RowsCell* cell = AsCell(object);
    AtkStateSet* set = atk_state_set_new();
    const RowsData* d = cell->data;
    if (!Alive(d) || cell->row >= Rows(d))
    {
        atk_state_set_add_state(set, ATK_STATE_DEFUNCT);
        return set;
    }
    for (AtkStateType state : {ATK_STATE_ENABLED, ATK_STATE_SENSITIVE, ATK_STATE_VISIBLE,
                               ATK_STATE_TRANSIENT, ATK_STATE_SELECTABLE, ATK_STATE_FOCUSABLE})
        atk_state_set_add_state(set, state);
    const long top = d->list->GetTopItem();
    if (cell->row >= top && cell->row <= top + d->list->GetCountPerPage())
        atk_state_set_add_state(set, ATK_STATE_SHOWING);
    if (IsRowSelected(d, cell->row))
        atk_state_set_add_state(set, ATK_STATE_SELECTED);
    if (cell->row == d->eventCurrent && HasFocus(d))
        atk_state_set_add_state(set, ATK_STATE_FOCUSED);
    return set;
}

void CellFinalize(GObject* object)
{
    g_free(AsCell(object)->text);
    G_OBJECT_CLASS(g_type_class_peek_parent(G_OBJECT_GET_CLASS(object)))->finalize(object);
}

void CellGetExtents(AtkComponent* component, gint* x, gint* y, gint* width, gint* height,
                    AtkCoordType coords)
{
    *x = *y = *width = *height = -1;
    const RowsCell* cell = AsCell(component);
    const RowsData* d = cell->data;
    wxRect rect;
    if (!Alive(d) || cell->row >= Rows(d) ||
        !d->list->GetSubItemRect(cell->row, cell->column, rect))
        return;
    wxPoint at = d->list->ClientToScreen(rect.GetTopLeft());
    if (coords == ATK_XY_WINDOW)
    {
        const wxWindow* top = wxGetTopLevelParent(d->list);
        if (top)
            at -= top->ClientToScreen(wxPoint(0, 0));
    }
    else if (coords == ATK_XY_PARENT)
    {
        at -= d->rows->GetScreenPosition();
    }
    *x = at.x;
    *y = at.y;
    *width = rect.width;
    *height = rect.height;
}

gboolean CellGrabFocus(AtkComponent* component)
{
    const RowsCell* cell = AsCell(component);
    RowsData* d = cell->data;
    if (!Alive(d) || cell->row >= Rows(d))
        return FALSE;
    d->rows->SetFocus();
    d->list->SetItemState(cell->row, wxLIST_STATE_FOCUSED, wxLIST_STATE_FOCUSED);
    d->list->EnsureVisible(cell->row);
    return TRUE;
}

void CellComponentInit(gpointer iface, gpointer)
{
    auto* component = static_cast<AtkComponentIface*>(iface);
    component->get_extents = CellGetExtents;
    component->grab_focus = CellGrabFocus;
}

gboolean CellGetPosition(AtkTableCell* tableCell, gint* row, gint* column)
{
    const RowsCell* cell = AsCell(tableCell);
    *row = static_cast<gint>(cell->row);
    *column = static_cast<gint>(cell->column);
    return TRUE;
}

AtkObject* CellRefTable(AtkTableCell* tableCell)
{
    const RowsCell* cell = AsCell(tableCell);
    AtkObject* table = cell->data ? cell->data->table : nullptr;
    return table ? ATK_OBJECT(g_object_ref(table)) : nullptr;
}

gint CellSpan(AtkTableCell*)
{
    return 1;
}

GPtrArray* CellNoHeaders(AtkTableCell*)
{
    return g_ptr_array_new_with_free_func(g_object_unref);
}

AtkObject* RefHeader(RowsData* d, long column);
const gchar* Heading(RowsData* d, long column);

GPtrArray* CellColumnHeaders(AtkTableCell* tableCell)
{
    GPtrArray* headers = CellNoHeaders(tableCell);
    const RowsCell* cell = AsCell(tableCell);
    AtkObject* header = RefHeader(cell->data, cell->column);
    if (header)
        g_ptr_array_add(headers, header);
    return headers;
}

void CellTableCellInit(gpointer iface, gpointer)
{
    auto* cell = static_cast<AtkTableCellIface*>(iface);
    cell->get_position = CellGetPosition;
    cell->get_table = CellRefTable;
    cell->get_column_span = CellSpan;
    cell->get_row_span = CellSpan;
    cell->get_column_header_cells = CellColumnHeaders;
    cell->get_row_header_cells = CellNoHeaders;
}

void CellClassInit(gpointer klass, gpointer)
{
    G_OBJECT_CLASS(klass)->finalize = CellFinalize;
    auto* atk = ATK_OBJECT_CLASS(klass);
    atk->get_name = CellGetName;
    atk->get_index_in_parent = CellIndexInParent;
    atk->ref_state_set = CellRefStateSet;
}

GType RowsCellType()
{
    static GType type = 0;
    if (type == 0)
    {
        type = g_type_register_static_simple(
            ATK_TYPE_OBJECT, "TavolyRowsCell", sizeof(RowsCellClass), CellClassInit,
            sizeof(RowsCell), nullptr, GTypeFlags(0));
        const GInterfaceInfo component = {CellComponentInit, nullptr, nullptr};
        g_type_add_interface_static(type, ATK_TYPE_COMPONENT, &component);
        const GInterfaceInfo tableCell = {CellTableCellInit, nullptr, nullptr};
        g_type_add_interface_static(type, ATK_TYPE_TABLE_CELL, &tableCell);
    }
    return type;
}

// The heading of column, with a reference for the caller.
AtkObject* RefHeader(RowsData* d, long column)
{
    const gchar* text = d && d->table ? Heading(d, column) : nullptr;
    if (text == nullptr)
        return nullptr;
    d->headers.resize(d->headings.size(), nullptr);
    AtkObject*& header = d->headers[static_cast<size_t>(column)];
    if (header == nullptr)
    {
        header = ATK_OBJECT(g_object_new(ATK_TYPE_OBJECT, nullptr));
        atk_object_set_role(header, ATK_ROLE_COLUMN_HEADER);
        atk_object_set_parent(header, d->table);
    }
    const gchar* now = atk_object_get_name(header);
    if (now == nullptr || std::strcmp(now, text) != 0)
        atk_object_set_name(header, text);
    return ATK_OBJECT(g_object_ref(header));
}

// ---- the table -------------------------------------------------------------

struct RowsTable
{
    GtkWidgetAccessible parent;
    RowsData* data;
};

struct RowsTableClass
{
    GtkWidgetAccessibleClass parent_class;
};

GType RowsTableType();

RowsData* TableData(gpointer object)
{
    return G_TYPE_CHECK_INSTANCE_CAST(object, RowsTableType(), RowsTable)->data;
}

gint TableNChildren(AtkObject* object)
{
    const RowsData* d = TableData(object);
    return static_cast<gint>(Rows(d) * Columns(d));
}

AtkObject* TableRefChild(AtkObject* object, gint index)
{
    RowsData* d = TableData(object);
    const long columns = Columns(d);
    if (columns == 0 || index < 0)
        return nullptr;
    return RefCell(d, index / columns, index % columns);
}

AtkStateSet* TableRefStateSet(AtkObject* object)
{
    AtkObjectClass* parent = ATK_OBJECT_CLASS(g_type_class_peek_parent(G_OBJECT_GET_CLASS(object)));
    AtkStateSet* set = parent->ref_state_set(object);
    const RowsData* d = TableData(object);
    if (!Alive(d))
        return set;
    atk_state_set_add_state(set, ATK_STATE_MANAGES_DESCENDANTS);
    if (!d->list->HasFlag(wxLC_SINGLE_SEL))
        atk_state_set_add_state(set, ATK_STATE_MULTISELECTABLE);
    return set;
}

void TableClassInit(gpointer klass, gpointer)
{
    auto* atk = ATK_OBJECT_CLASS(klass);
    atk->get_n_children = TableNChildren;
    atk->ref_child = TableRefChild;
    atk->ref_state_set = TableRefStateSet;
}

AtkObject* TableRefAt(AtkTable* table, gint row, gint column)
{
    return RefCell(TableData(table), row, column);
}

gint TableIndexAt(AtkTable* table, gint row, gint column)
{
    return static_cast<gint>(row * Columns(TableData(table)) + column);
}

gint TableColumnAtIndex(AtkTable* table, gint index)
{
    const long columns = Columns(TableData(table));
    return columns ? static_cast<gint>(index % columns) : -1;
}

gint TableRowAtIndex(AtkTable* table, gint index)
{
    const long columns = Columns(TableData(table));
    return columns ? static_cast<gint>(index / columns) : -1;
}

gint TableNColumns(AtkTable* table)
{
    return static_cast<gint>(Columns(TableData(table)));
}

gint TableNRows(AtkTable* table)
{
    return static_cast<gint>(Rows(TableData(table)));
}

const gchar* Heading(RowsData* d, long column)
{
    if (column < 0 || column >= Columns(d))
        return nullptr;
    d->headings.resize(static_cast<size_t>(Columns(d)));
    wxListItem item;
    item.SetMask(wxLIST_MASK_TEXT);
    d->list->GetColumn(static_cast<int>(column), item);
    d->headings[static_cast<size_t>(column)] = item.GetText().utf8_string();
    return d->headings[static_cast<size_t>(column)].c_str();
}

const gchar* TableColumnDescription(AtkTable* table, gint column)
{
    return Heading(TableData(table), column);
}

AtkObject* TableColumnHeader(AtkTable* table, gint column)
{
    AtkObject* header = RefHeader(TableData(table), column);
    // The table keeps it: this call gives no reference.
    if (header)
        g_object_unref(header);
    return header;
}

gint TableSelectedRows(AtkTable* table, gint** selected)
{
    const RowsData* d = TableData(table);
    std::vector<gint> rows;
    if (Alive(d))
    {
        for (long row = d->list->GetNextItem(-1, wxLIST_NEXT_ALL, wxLIST_STATE_SELECTED); row >= 0;
             row = d->list->GetNextItem(row, wxLIST_NEXT_ALL, wxLIST_STATE_SELECTED))
            rows.push_back(static_cast<gint>(row));
    }
    if (selected)
    {
        *selected = rows.empty() ? nullptr : g_new(gint, rows.size());
        for (size_t i = 0; i < rows.size(); ++i)
            (*selected)[i] = rows[i];
    }
    return static_cast<gint>(rows.size());
}

gboolean TableIsRowSelected(AtkTable* table, gint row)
{
    return IsRowSelected(TableData(table), row);
}

gboolean TableIsSelected(AtkTable* table, gint row, gint)
{
    return IsRowSelected(TableData(table), row);
}

gboolean TableAddRowSelection(AtkTable* table, gint row)
{
    SelectRow(TableData(table), row, true);
    return IsRowSelected(TableData(table), row);
}

gboolean TableRemoveRowSelection(AtkTable* table, gint row)
{
    SelectRow(TableData(table), row, false);
    return !IsRowSelected(TableData(table), row);
}

void TableTableInit(gpointer iface, gpointer)
{
    auto* t = static_cast<AtkTableIface*>(iface);
    t->ref_at = TableRefAt;
    t->get_index_at = TableIndexAt;
    t->get_column_at_index = TableColumnAtIndex;
    t->get_row_at_index = TableRowAtIndex;
    t->get_n_columns = TableNColumns;
    t->get_n_rows = TableNRows;
    t->get_column_description = TableColumnDescription;
    t->get_column_header = TableColumnHeader;
    t->get_selected_rows = TableSelectedRows;
    t->is_row_selected = TableIsRowSelected;
    t->is_selected = TableIsSelected;
    t->add_row_selection = TableAddRowSelection;
    t->remove_row_selection = TableRemoveRowSelection;
}

// The selection of a list is one of rows; a reader sees each selected row
// by its first cell.
gboolean SelectionAdd(AtkSelection* selection, gint index)
{
    const gint row = TableRowAtIndex(ATK_TABLE(selection), index);
    return TableAddRowSelection(ATK_TABLE(selection), row);
}

gboolean SelectionClear(AtkSelection* selection)
{
    RowsData* d = TableData(selection);
    if (!Alive(d))
        return FALSE;
    d->list->SetItemState(-1, 0, wxLIST_STATE_SELECTED);
    return TRUE;
}

AtkObject* SelectionRef(AtkSelection* selection, gint n)
{
    RowsData* d = TableData(selection);
    return RefCell(d, NthSelectedRow(d, n), 0);
}

gint SelectionCount(AtkSelection* selection)
{
    const RowsData* d = TableData(selection);
    return Alive(d) ? d->list->GetSelectedItemCount() : 0;
}

gboolean SelectionIsChildSelected(AtkSelection* selection, gint index)
{
    return IsRowSelected(TableData(selection), TableRowAtIndex(ATK_TABLE(selection), index));
}

gboolean SelectionRemove(AtkSelection* selection, gint n)
{
    RowsData* d = TableData(selection);
    const long row = NthSelectedRow(d, n);
    if (row < 0)
        return FALSE;
    SelectRow(d, row, false);
    return TRUE;
}

gboolean SelectionSelectAll(AtkSelection* selection)
{
    RowsData* d = TableData(selection);
    if (!Alive(d) || d->list->HasFlag(wxLC_SINGLE_SEL))
        return FALSE;
    d->list->SetItemState(-1, wxLIST_STATE_SELECTED, wxLIST_STATE_SELECTED);
    return TRUE;
}

void TableSelectionInit(gpointer iface, gpointer)
{
    auto* s = static_cast<AtkSelectionIface*>(iface);
    s->add_selection = SelectionAdd;
    s->clear_selection = SelectionClear;
    s->ref_selection = SelectionRef;
    s->get_selection_count = SelectionCount;
    s->is_child_selected = SelectionIsChildSelected;
    s->remove_selection = SelectionRemove;
    s->select_all_selection = SelectionSelectAll;
}

// The cell under a point, found by the list's own hit test: the toolkit's
// way would make and ask every cell of the list.
AtkObject* TableRefAccessibleAtPoint(AtkComponent* component, gint x, gint y, AtkCoordType coords)
{
    RowsData* d = TableData(component);
    if (!Alive(d))
        return nullptr;
    wxPoint at(x, y);
    if (coords == ATK_XY_WINDOW)
    {
        const wxWindow* top = wxGetTopLevelParent(d->list);
        if (top)
            at += top->ClientToScreen(wxPoint(0, 0));
    }
    else if (coords == ATK_XY_PARENT)
    {
        at += d->list->GetScreenPosition();
    }
    int flags = 0;
    const long row = d->list->HitTest(d->rows->ScreenToClient(at), flags);
    if (row < 0 || !(flags & wxLIST_HITTEST_ONITEM))
        return nullptr;
    const wxPoint inList = d->list->ScreenToClient(at);
    for (long column = 0; column < Columns(d); ++column)
    {
        wxRect rect;
        if (d->list->GetSubItemRect(row, column, rect) && rect.Contains(inList))
            return RefCell(d, row, column);
    }
    return nullptr;
}

void TableComponentInit(gpointer iface, gpointer)
{
    // The widget's own answers stand for the rest (this table overrides them).
    static_cast<AtkComponentIface*>(iface)->ref_accessible_at_point = TableRefAccessibleAtPoint;
}

GType RowsTableType()
{
    static GType type = 0;
    if (type == 0)
    {
        type = g_type_register_static_simple(
            GTK_TYPE_WIDGET_ACCESSIBLE, "TavolyRowsTable", sizeof(RowsTableClass),
            TableClassInit, sizeof(RowsTable), nullptr, GTypeFlags(0));
        const GInterfaceInfo table = {TableTableInit, nullptr, nullptr};
        g_type_add_interface_static(type, ATK_TYPE_TABLE, &table);
        const GInterfaceInfo selection = {TableSelectionInit, nullptr, nullptr};
        g_type_add_interface_static(type, ATK_TYPE_SELECTION, &selection);
        const GInterfaceInfo component = {TableComponentInit, nullptr, nullptr};
        g_type_add_interface_static(type, ATK_TYPE_COMPONENT, &component);
    }
    return type;
}
} // namespace

long CurrentRow(const RowsData* d)
{
    return Alive(d) ? d->list->GetNextItem(-1, wxLIST_NEXT_ALL, wxLIST_STATE_FOCUSED) : -1;
}

// wx gives the focus of the rows window to the list it belongs to.
bool HasFocus(const RowsData* d)
{
    const wxWindow* focus = wxWindow::FindFocus();
    return Alive(d) && focus != nullptr && (focus == d->rows || focus == d->list);
}

AtkObject* RefCell(RowsData* d, long row, long column)
{
    if (!Alive(d) || d->table == nullptr || row < 0 || row >= Rows(d) || column < 0 ||
        column >= Columns(d))
        return nullptr;
    // A reader that walks a long list would otherwise keep every cell alive.
    if (d->cells.size() >= 512 && d->cells.count({row, column}) == 0)
        DropCells(d, d->current);
    AtkObject*& slot = d->cells[{row, column}];
    if (slot == nullptr)
    {
        slot = ATK_OBJECT(g_object_new(RowsCellType(), nullptr));
        RowsCell* cell = AsCell(slot);
        cell->data = d;
        cell->row = row;
        cell->column = column;
        atk_object_set_role(slot, ATK_ROLE_TABLE_CELL);
        atk_object_set_parent(slot, d->table);
    }

    return ATK_OBJECT(g_object_ref(slot));
}

void DropCells(RowsData* d, long keepRow)
{
    std::map<std::pair<long, long>, AtkObject*> cells;
    cells.swap(d->cells);
    for (auto& entry : cells)
    {
        if (entry.first.first == keepRow)
        {
            d->cells.insert(entry);
            continue;
        }

        AsCell(entry.second)->data = nullptr;
        atk_object_notify_state_change(entry.second, ATK_STATE_DEFUNCT, TRUE);
        g_object_unref(entry.second);
    }

}

AtkObject* NewRowsTable(RowsData* d)
{
    AtkObject* table = ATK_OBJECT(g_object_new(RowsTableType(), "widget", d->widget, nullptr));
    G_TYPE_CHECK_INSTANCE_CAST(table, RowsTableType(), RowsTable)->data = d;
    atk_object_initialize(table, d->widget);
    atk_object_set_role(table, ATK_ROLE_TABLE);
    atk_object_set_name(table, d->name.c_str());
    return table;
}

void ForgetRowsTable(RowsData* d)
{
    DropCells(d);
    for (AtkObject* header : d->headers)
    {
        if (header)
            g_object_unref(header);
    }

    d->headers.clear();
    if (d->table != nullptr)
    {
        G_TYPE_CHECK_INSTANCE_CAST(d->table, RowsTableType(), RowsTable)->data = nullptr;
        // This says it is defunct.
        gtk_accessible_set_widget(GTK_ACCESSIBLE(d->table), nullptr);
        g_object_unref(d->table);
        d->table = nullptr;
    }

}

void NotifyNameChange(AtkObject* object)
{
    RowsCell* cell = AsCell(object);
    std::string text;
    if (cell->text != nullptr && CellText(cell, text) && text != cell->text)
    {
        g_free(cell->text);
        cell->text = g_strdup(text.c_str());
        g_object_notify(G_OBJECT(object), "accessible-name");
    }

}

void CellFocused(RowsData* d, long row, gboolean focused)
{
    const auto it = d->cells.find({row, 0});
    if (it != d->cells.end())
        atk_object_notify_state_change(it->second, ATK_STATE_FOCUSED, focused);
}

#endif
