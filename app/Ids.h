// SPDX-License-Identifier: GPL-3.0-or-later
// Control, menu and command ids, and the program's internal events.
#pragma once

#include <wx/event.h>

// The main window and its controls.
enum
{
    IDD_RENAMER_DIALOG = 153,
    IDC_LOCATION = 1001,
    IDC_DIRLIST = 1004,
    IDC_QUEUE = 1005,
    IDC_AUTORENAME = 1008,
    IDC_OPTION = 1010,
    IDC_UNDO = 1011,
    IDC_REMOVE = 1012,
    IDC_HELPBUTTON = 1013,
    IDC_PLAY = 1018,
    IDC_PAUSE = 1019,
    IDC_STOP = 1020,
    IDC_SLIDER = 1021,
    IDC_ID3V1 = 1042,
    IDC_DIRSTATUS = 1049,
    IDC_QUEUESTATUS = 1050,
};

// The other windows, the menus, the program icon, the image strip and the
// drag cursor.
enum
{
    IDR_MAINFRAME = 102,   // program icon
    IDB_ICONS = 132,       // image strip
    IDR_DIRLIST_MENU = 141,
    IDR_QUEUE_MENU = 142,
    IDC_DRAG = 144,        // drag cursor
    IDD_TAGEDITOR = 149,
    IDD_HELP = 151,
    IDD_HOWTO = 152,
    IDD_OPTIONS = 154,
};

// Queue context menu (IDR_QUEUE_MENU).
enum
{
    ID_QUEUE_AUTORENAME = 32778,
    ID_QUEUE_UNDO = 32779,
    ID_QUEUE_REMOVE = 32780,
    ID_QUEUE_SELECTALL = 32781,
    ID_QUEUE_PLAY = 32782,
    ID_QUEUE_EDITTAG = 32783,
};

// Directory list context menu (IDR_DIRLIST_MENU).
enum
{
    ID_DIRLIST_ADDTOQUEUE = 32771,
    ID_DIRLIST_SELECTALL = 32772,
    ID_DIRLIST_PARENT = 32774,
    ID_DIRLIST_REFLASH = 32784,
    ID_DIRLIST_OPEN = 32785,
};

// wx takes menu item ids below 0x7FFF only, so a menu item carries its
// command id less this offset.
constexpr int kMenuIdOffset = 30000;
constexpr int MenuItemId(int commandId) { return commandId - kMenuIdOffset; }
constexpr int CommandIdOf(int menuItemId) { return menuItemId + kMenuIdOffset; }

// Window timers.
enum
{
    TIMER_MAIN_PLAYER = 60,
    TIMER_EDITOR_PLAYER = 160,
    TIMER_DROPDOWN = 88,
};

// Internal messages to the main window, always delivered synchronously.
// WM_LOCATIONPICKED carries the picked FolderItem (or null) as client data.
constexpr int WM_USER_BASE = 0x400;
wxDECLARE_EVENT(WM_QUEUEPLAY, wxCommandEvent);
wxDECLARE_EVENT(WM_QUEUEEDITTAG, wxCommandEvent);
wxDECLARE_EVENT(WM_LOCATIONPICKED, wxCommandEvent);

// Sends one of the internal messages to the main window and returns when it
// has been handled.
void SendToMainWindow(wxEventType type, void* wParam = nullptr);
