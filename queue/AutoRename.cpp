// Batch auto-rename of the selected rows, and its undo.
#include "queue/QueueList.h"

#include "app/Globals.h"
#include "app/OptionsDlg.h"
#include "app/WarningBox.h"
#include "browser/DirList.h"
#include "core/TagFile.h"

#include <wx/utils.h>

int CQueueList::AutoRenameSelected()
{
    if (GetCount() == 0)
    {
        ShowWarningBox("No file in queue! ");
        return 0;
    }
    int selected = 0;
    int read = 0;
    {
        // A long batch blocks the window: the pointer says so until its end.
        wxBusyCursor busy;
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
            m_strState = AutoRenameFile(m_rows[row].path, g_optionsDlg.m_bWithArtist != 0, newName,
                                        newPath, m_strTitle, m_strArtist);
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
                SetPathOf(row, newPath);
            }
            RefreshRow(row);
        }
        if (read > 0)
        {
            g_dirList.ShowLocation();
            CloseEditorIfOpen();
        }
    }
    if (selected == 0)
    {
        ShowWarningBox("Please select files in the queue! ");
        return 0;
    }
    return 1;
}

int CQueueList::UndoSelected()
{
    if (GetCount() == 0)
    {
        ShowWarningBox("No file in queue! ");
        return 0;
    }
    int selected = 0;
    int undone = 0;
    {
        wxBusyCursor busy;
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
                if (RenameInFolder(e.path, e.original, target) == 1)
                {
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
            }
            RefreshRow(row);
        }
        if (undone > 0)
        {
            g_dirList.ShowLocation();
            CloseEditorIfOpen();
        }
    }
    if (selected == 0)
    {
        ShowWarningBox("Please select files in the queue! ");
        return 0;
    }
    return 1;
}
