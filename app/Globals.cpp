// SPDX-License-Identifier: GPL-3.0-or-later
// One translation unit, so the objects are constructed in the order written
// here and destroyed in reverse.
#include "app/Globals.h"

#include "app/HelpDlg.h"
#include "app/OptionsDlg.h"
#include "app/RenamerApp.h"
#include "browser/DirList.h"
#include "browser/LocationBox.h"
#include "editor/TagEditorDlg.h"
#include "queue/QueueList.h"

CRenamerApp theApp;
CQueueList g_queue;
CDirList g_dirList;
CTagEditorDlg g_tagEditor;
CHelpDlg g_helpDlg;
CHowToDlg g_howToDlg;
COptionsDlg g_optionsDlg;
CLocationBox g_locationBox;

wxWindow* g_hMainWnd = nullptr;
wxTextCtrl* g_hDirStatus = nullptr;
wxTextCtrl* g_hQueueStatus = nullptr;
