// SPDX-License-Identifier: GPL-3.0-or-later
// Writes the program icon as PNG files for the desktop's icon theme:
//   make_icons <folder> <name> <size>...  ->  <folder>/<size>x<size>/<name>.png
// Runs during the build, so it must not need a display.
#include "res/ProgramIcon.h"

#include <wx/filename.h>
#include <wx/init.h>

#include <cstdio>
#include <cstdlib>
#include <string>

int main(int argc, char** argv)
{
    if (argc < 4)
    {
        std::fputs("usage: make_icons <folder> <name> <size>...\n", stderr);
        return 2;
    }
    wxInitializer init(argc, argv);
    if (!init.IsOk())
        return 1;
    wxImage::AddHandler(new wxPNGHandler);
    for (int i = 3; i < argc; ++i)
    {
        const int size = std::atoi(argv[i]);
        if (size < 16 || size > 1024)
        {
            std::fprintf(stderr, "make_icons: bad size %s\n", argv[i]);
            return 2;
        }
        const std::string folder = std::string(argv[1]) + "/" + argv[i] + "x" + argv[i];
        const std::string file = folder + "/" + argv[2] + ".png";
        if (!wxFileName::Mkdir(folder, wxS_DIR_DEFAULT, wxPATH_MKDIR_FULL)
            || !DrawProgramIcon(size).SaveFile(file, wxBITMAP_TYPE_PNG))
        {
            std::fprintf(stderr, "make_icons: cannot write %s\n", file.c_str());
            return 1;
        }
    }
    return 0;
}
