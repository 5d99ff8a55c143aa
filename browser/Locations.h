// Location keys and the indices of the shared image strip.
#pragma once

// Indices into the 15-image strip shared by the lists and the folder tree.
enum
{
    IMG_FOLDER = 0,
    IMG_FOLDER_OPEN = 1,
    IMG_DESKTOP = 3,
    IMG_MYCOMPUTER = 4,
    IMG_FLOPPY = 5,
    IMG_HARDDRIVE = 6,
    IMG_CDROM = 7,
    IMG_MYDOCUMENTS = 9,
    IMG_REMOVABLE = 10,
    IMG_MP3 = 11,
    IMG_PARENT = 14,
    IMG_COUNT = 15,
};

extern const char* const kLocMyComputer;  // "My Computer"
extern const char* const kLocDesktop;     // "Desktop"
extern const char* const kLocMyDocument;  // "My Document"
