// SPDX-License-Identifier: GPL-3.0-or-later
// The accessible table that stands for one of our report lists on GTK, and
// its cells. AccessibleGtk.cpp hands it out for the window showing the rows
// and tells it what changed.
#pragma once

#include <atk/atk.h>

#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

class wxListCtrl;
class wxWindow;
typedef struct _GtkWidget GtkWidget;

// One list a screen reader can read: the list, its table once a reader has
// asked for it, and what the reader was last told.
struct RowsData
{
    wxListCtrl* list = nullptr;   // null once the list is going
    wxWindow* rows = nullptr;
    GtkWidget* widget = nullptr;
    std::string name;
    AtkObject* table = nullptr;
    // The cells a reader has asked for, by row and column, one reference each.
    std::map<std::pair<long, long>, AtkObject*> cells;
    std::vector<std::string> headings;   // the texts given out last
    std::vector<AtkObject*> headers;   // the column headings, made when asked for
    // What the list looked like when it last went idle.
    long count = -1;
    long selected = -1;
    long current = -1;
    bool focused = false;
    // Told by the list's events, which cost nothing to follow; finding the
    // current row or the selected ones by asking walks the rows.
    long eventCurrent = -1;
    bool selectionChanged = false;
    wxWindow* edit = nullptr;   // the in-place editor last named
    // What the list's event handlers hold: null once d is gone.
    std::shared_ptr<RowsData*> handle;
};

// The list's current row, found by walking its rows.
long CurrentRow(const RowsData* d);
// Whether the list has the focus.
bool HasFocus(const RowsData* d);

// The table of d->widget, with a reference for the caller.
AtkObject* NewRowsTable(RowsData* d);
// The list is going: the table and every object of it stop answering.
void ForgetRowsTable(RowsData* d);
// The cell at row and column, with a reference for the caller, or null.
AtkObject* RefCell(RowsData* d, long row, long column);
// The rows have changed under the cells (or too many are kept): they stop
// standing for rows, those of keepRow apart; a reader holding one sees it
// gone and asks the table again.
void DropCells(RowsData* d, long keepRow = -1);
// Tells a reader when the text of cell has changed since it last read it.
void NotifyNameChange(AtkObject* cell);
// Tells a reader that the cell of row in the first column gained or lost
// the focus, if it has that cell.
void CellFocused(RowsData* d, long row, gboolean focused);
