// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/RenamerApp.h"

#include "app/Globals.h"
#include "app/RenamerDlg.h"
#include "app/Theme.h"
#include "app/WarningBox.h"

#include "core/Translate.h"

#include <wx/init.h>
#include <wx/translation.h>

#include <clocale>
#include <csignal>
#include <cstdio>
#include <cstdlib>

CRenamerApp::CRenamerApp()
{
    // The command line and the platform's settings stores are never read.
    SetAppName("mp3tavoly");
}

CRenamerApp::~CRenamerApp() = default;

bool CRenamerApp::OnInit()
{
    CRenamerDlg* dlg = new CRenamerDlg(nullptr);
    SetTopWindow(dlg);
    dlg->ShowModal();
    SetTopWindow(nullptr);
    delete dlg;
    return false;
}

bool StartToolkit(int& argc, char** argv)
{
    // A write past the file-size limit must fail with EFBIG, so that a tag
    // write can roll back, rather than end the program half-way through.
    std::signal(SIGXFSZ, SIG_IGN);
    // The user's language for every text, the message below included; the
    // tag texts' code page follows the locale's name by itself, whatever
    // this sets.
    std::setlocale(LC_MESSAGES, "");
    StartTranslations();
    // theApp is a static object; wx finds it through wxTheApp.
    wxApp::SetInstance(&theApp);
    if (!wxEntryStart(argc, argv))
    {
        // wx has already run the application's destructor on this path; end
        // without running it a second time.
        std::fprintf(stderr, "mp3tavoly: %s\n", Tr("cannot start the window system"));
        std::fflush(stderr);
        std::_Exit(1);
    }
    // wx's own texts (wxstd) in the same language.
    wxTranslations* translations = new wxTranslations;
    wxTranslations::Set(translations);
    translations->AddStdCatalog();
    ApplyCompactTheme();
    InstallGuiWarningHandler();
    return true;
}

void StopToolkit()
{
    theApp.OnExit();
    // Keep wx from freeing the static application object.
    theApp.CleanUp();
    wxApp::SetInstance(nullptr);
    wxEntryCleanup();
}

int RunProgram(int argc, char** argv)
{
    StartToolkit(argc, argv);
    theApp.OnInit();
    StopToolkit();
    return 0;
}
