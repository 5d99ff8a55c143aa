// SPDX-License-Identifier: GPL-3.0-or-later
// The program-wide objects and window handles.
#pragma once

class CRenamerApp;
class CQueueList;
class CDirList;
class CTagEditorDlg;
class CHelpDlg;
class CHowToDlg;
class COptionsDlg;
class CLocationBox;
class wxWindow;
class wxTextCtrl;

extern CRenamerApp theApp;
extern CQueueList g_queue;
extern CDirList g_dirList;
extern CTagEditorDlg g_tagEditor;
extern CHelpDlg g_helpDlg;
extern CHowToDlg g_howToDlg;
extern COptionsDlg g_optionsDlg;
extern CLocationBox g_locationBox;

// Set once by the main window's initialisation; null before and after it.
extern wxWindow* g_hMainWnd;
extern wxTextCtrl* g_hDirStatus;    // left status line (1049)
extern wxTextCtrl* g_hQueueStatus;  // right status line (1050)
