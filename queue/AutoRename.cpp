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

#include <wx/utils.h>

#include <vector>

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
        std::vector<size_t> rows;
        std::vector<QueuedFile> files;
        for (int i = 0; i < GetCount(); ++i)
        {
            if (!IsSelected(i))
                continue;
            ++selected;
            const size_t row = static_cast<size_t>(i);
            if (m_rows[row].state == kStateSuccessful)
                continue;   // not twice until undone
            rows.push_back(row);
            files.push_back(QueuedFile{m_rows[row].path, m_rows[row].folder});
        }
        // One run of the journal, in row order; each row learns its outcome
        // as its file is done.
        m_session.SetNameRule(g_optionsDlg.m_bFromId3v2 != 0 ? &m_fromId3v2 : nullptr);
        m_session.AutoRename(files, g_optionsDlg.m_bWithArtist != 0, [&](size_t k, const RenameOutcome& outcome) {
            const size_t row = rows[k];
            QueueEntry& e = m_rows[row];
            e.folder = outcome.folder;
            m_strState = outcome.state;
            e.onlyId3v2 = outcome.onlyId3v2;
            if (m_strState == kStateSongNotFound || m_strState == kStateUnreadable)
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
                e.name = outcome.newName;
                e.state = kStateSuccessful;
                e.file = outcome.file;
                e.journal = outcome.ref;
                SetPathOf(row, PathInSameFolder(e.path, e.name));
            }
            RefreshRow(row);
        });
        m_session.Release();
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
        std::vector<size_t> rows;
        std::vector<CRenameSession::UndoItem> items;
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
                rows.push_back(row);
                items.push_back(CRenameSession::UndoItem{e.folder, e.path, e.original, e.file, e.journal});
                continue;
            }
            // Nothing to move back: the row just forgets its last rename.
            e.state = kStateWaiting;
            e.original = "-";
            e.file = FileId();
            e.journal = JournalRef();
            RefreshRow(row);
        }
        // A file that cannot be given its old name leaves its row as it is,
        // silently.
        m_session.Undo(items, [&](size_t k, bool back, const std::string& oldPath) {
            if (!back)
                return;
            const size_t row = rows[k];
            QueueEntry& e = m_rows[row];
            e.file = FileId();
            e.journal = JournalRef();
            e.name = e.original;
            e.state = kStateWaiting;
            e.original = "-";
            SetPathOf(row, oldPath);
            RefreshRow(row);
        });
        m_session.Release();
        if (undone > 0)
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

void CQueueList::WarnIfNotJournaled(wxWindow* parent)
{
    const std::string warning = m_session.TakeWarning();
    if (!warning.empty())
        ShowWarningBox(warning, parent ? parent : m_ctrl);
}
