// SPDX-License-Identifier: GPL-3.0-or-later
// Batch auto-rename of the selected rows, and its undo.
#include "queue/QueueList.h"

#include "app/Globals.h"
#include "app/OptionsDlg.h"
#include "app/WarningBox.h"
#include "browser/DirList.h"
#include "core/TagFile.h"
#include "core/Translate.h"
#include "platform/FileSystem.h"
#include "platform/FolderTable.h"
#include "platform/ReadAhead.h"

#include <wx/utils.h>

#include <algorithm>
#include <chrono>
#include <vector>

namespace {

// A row of the group in hand: what its read found, and its record's slot.
struct Pending
{
    size_t row;
    std::string state;
    std::string name;
    std::uint32_t slot;
};

// Rows read and recorded together: one write of records for each group.
constexpr size_t kGroupRows = 256;

} // namespace

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
        ShowWarningBox(Tr("No file in queue! "), m_ctrl);
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
        // The batch is one run of the journal, its moves recorded a group
        // at a time: each group's tags are read, its records written with one
        // write, then its files moved in order.
        m_journal.BeginRun();
        const bool artistFirst = g_optionsDlg.m_bWithArtist != 0;
        std::vector<Pending> group;
        std::vector<FileId> readIds;
        for (int i = 0; i < GetCount();)
        {
            group.clear();
            readIds.clear();
            m_journal.BeginGroup();
            for (; i < GetCount() && group.size() < kGroupRows; ++i)
            {
                if (!IsSelected(i))
                    continue;
                const size_t row = static_cast<size_t>(i);
                if (m_rows[row].state == kStateSuccessful)
                {
                    ++selected;
                    continue;   // not twice until undone
                }
                Pending p{row, {}, {}, CWindowJournal::kNotPlanned};
                FileId id;   // stays zero when read through a link
                const auto started = std::chrono::steady_clock::now();
                p.state = AutoRenameTarget(m_rows[row].path, artistFirst, p.name, m_strTitle, m_strArtist, &id);
                const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
                // Read before the group's moves, this row would see what one
                // by one it would not: the file an earlier row moves, or the
                // name it takes. Such a row is read again in the next group;
                // so is one read through a link, whose file is not known.
                const bool itself = id != FileId();
                if (!group.empty() && (!itself || std::find(readIds.begin(), readIds.end(), id) != readIds.end()))
                    break;
                ++selected;
                ahead.At(row, seconds);
                if (itself)
                    readIds.push_back(id);
                if (p.state == kStateSuccessful)
                    p.slot = m_journal.Plan(m_rows[row].path, p.name, itself ? &id : nullptr);
                group.push_back(std::move(p));
            }
            m_journal.WritePlan();
            for (Pending& p : group)
            {
                QueueEntry& e = m_rows[p.row];
                std::string newPath;
                JournalRef recorded;
                if (p.state == kStateSuccessful && !m_journal.Move(p.slot, e.path, p.name, newPath, recorded))
                    p.state = kStateRenameFailed;
                m_strState = p.state;
                if (p.state == kStateSongNotFound || p.state == kStateUnwritable)
                {
                    e.state = p.state;
                }
                else if (p.state != kStateSuccessful)
                {
                    ++read;
                    e.state = kStateRenameFailed;
                }
                else
                {
                    ++read;
                    e.original = e.name;
                    e.name = p.name;
                    e.state = kStateSuccessful;
                    e.journal = recorded;
                    SetPathOf(p.row, newPath);
                }
                RefreshRow(p.row);
            }
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
        ShowWarningBox(Tr("Please select files in the queue! "), m_ctrl);
        return 0;
    }
    return 1;
}

int CQueueList::UndoSelected()
{
    if (GetCount() == 0)
    {
        ShowWarningBox(Tr("No file in queue! "), m_ctrl);
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
        ShowWarningBox(Tr("Please select files in the queue! "), m_ctrl);
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
