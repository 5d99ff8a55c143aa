// SPDX-License-Identifier: GPL-3.0-or-later
// Batch auto-rename of the selected rows, and its undo.
#include "queue/QueueList.h"

#include "app/Globals.h"
#include "app/OptionsDlg.h"
#include "app/WarningBox.h"
#include "browser/DirList.h"
#include "core/TagFile.h"
#include "platform/FileSystem.h"
#include "platform/ReadAhead.h"

#include <wx/utils.h>

std::vector<std::pair<size_t, std::string>> CQueueList::PathsAhead(size_t from, bool renamed) const
{
    std::vector<std::pair<size_t, std::string>> paths;
    for (size_t row = from; row < m_rows.size(); ++row)
    {
        if (IsSelected(static_cast<int>(row)) && (m_rows[row].state == kStateSuccessful) == renamed)
            paths.emplace_back(row, m_rows[row].path);
    }
    return paths;
}

int CQueueList::AutoRenameSelected()
{
    if (GetCount() == 0)
    {
        ShowWarningBox("No file in queue! ", m_ctrl);
        return 0;
    }
    int selected = 0;
    int read = 0;
    {
        // A long batch blocks the window: the pointer says so until its end.
        wxBusyCursor busy;
        // On a cold disk the tags ahead are read ahead, by threads that
        // change nothing: outcomes and their order stay the loop's.
        CReadAhead ahead(m_rows.size(), true, [this](size_t from) { return PathsAhead(from, false); },
                         CReadAhead::kSlowRead);
        // The batch is one run of the journal.
        m_journal.BeginRun();
        for (int i = 0; i < GetCount(); ++i)
        {
            if (!IsSelected(i))
                continue;
            ++selected;
            const size_t row = static_cast<size_t>(i);
            if (m_rows[row].state == kStateSuccessful)
                continue;   // not twice until undone
            std::string newName;
            std::string newPath;
            double readSeconds = 0;
            JournalRef recorded;
            m_strState = AutoRenameFile(m_rows[row].path, g_optionsDlg.m_bWithArtist != 0, newName,
                                        newPath, m_strTitle, m_strArtist, readSeconds, &m_journal,
                                        &recorded);
            ahead.At(row, readSeconds);
            QueueEntry& e = m_rows[row];
            if (m_strState == kStateSongNotFound || m_strState == kStateUnwritable)
            {
                e.state = m_strState;
            }
            else if (m_strState != kStateSuccessful)
            {
                ++read;
                e.state = kStateRenameFailed;
            }
            else
            {
                ++read;
                e.original = e.name;
                e.name = newName;
                e.state = kStateSuccessful;
                e.journal = recorded;
                SetPathOf(row, newPath);
            }
            RefreshRow(row);
        }
        m_journal.EndRun();
        if (read > 0)
        {
            g_dirList.ShowLocation();
            CloseEditorIfOpen();
        }
    }
    WarnIfNotJournaled();
    if (selected == 0)
    {
        ShowWarningBox("Please select files in the queue! ", m_ctrl);
        return 0;
    }
    return 1;
}

int CQueueList::UndoSelected()
{
    if (GetCount() == 0)
    {
        ShowWarningBox("No file in queue! ", m_ctrl);
        return 0;
    }
    int selected = 0;
    int undone = 0;
    {
        wxBusyCursor busy;
        CReadAhead ahead(m_rows.size(), false, [this](size_t from) { return PathsAhead(from, true); },
                         CReadAhead::kSlowMove);
        m_journal.BeginUndo();
        for (int i = 0; i < GetCount(); ++i)
        {
            if (!IsSelected(i))
                continue;
            ++selected;
            const size_t row = static_cast<size_t>(i);
            QueueEntry& e = m_rows[row];
            if (e.state == kStateSuccessful && !e.original.empty())
            {
                ++undone;
                std::string target;
                // A failed move back leaves file and row as they are, silently.
                ahead.Begin();
                int moved = RenameInFolder(e.path, e.original, target);
                ahead.At(row);
                if (moved == 1)
                {
                    m_journal.MovedBack(e.journal, target);
                }
                else if (e.journal.run != 0 && IsPlainName(e.original))
                {
                    // Undone from a shell meanwhile: the file is back already.
                    target = PathInSameFolder(e.path, e.original);
                    moved = m_journal.FoundBack(e.journal, target) ? 1 : 0;
                }
                if (moved == 1)
                {
                    e.journal = JournalRef();
                    e.name = e.original;
                    e.state = kStateWaiting;
                    e.original = "-";
                    SetPathOf(row, target);
                }
            }
            else
            {
                // Nothing to move back: the row just forgets its last rename.
                e.state = kStateWaiting;
                e.original = "-";
                e.journal = JournalRef();
            }
            RefreshRow(row);
        }
        m_journal.EndUndo();
        if (undone > 0)
        {
            g_dirList.ShowLocation();
            CloseEditorIfOpen();
        }
    }
    if (selected == 0)
    {
        ShowWarningBox("Please select files in the queue! ", m_ctrl);
        return 0;
    }
    return 1;
}

void CQueueList::WarnIfNotJournaled(wxWindow* parent)
{
    const std::string warning = m_journal.TakeWarning();
    if (!warning.empty())
        ShowWarningBox(warning, parent ? parent : m_ctrl);
}
