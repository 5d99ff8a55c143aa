// SPDX-License-Identifier: GPL-3.0-or-later
#include "res/Images.h"

#include "res/ProgramIcon.h"

#include <wx/dcmemory.h>
#include <wx/icon.h>
#include <wx/image.h>

namespace
{
// Near-black outline: pure black would be masked out of the lists.
const wxColour kInk(40, 40, 48);
const wxColour kWhite(255, 255, 255);
const wxColour kPaper(247, 247, 247);
const wxColour kFolder(240, 200, 70);
const wxColour kFolderDark(196, 150, 40);
const wxColour kScreen(70, 130, 200);
const wxColour kGrey(170, 170, 176);
const wxColour kGreen(40, 160, 60);
const wxColour kWave(30, 90, 200);

void Box(wxDC& dc, int x, int y, int w, int h, const wxColour& fill)
{
    dc.SetPen(wxPen(kInk));
    dc.SetBrush(wxBrush(fill));
    dc.DrawRectangle(x, y, w, h);
}

void Folder(wxDC& dc, int ox, bool open)
{
    Box(dc, ox + 1, 3, 6, 3, kFolderDark);
    Box(dc, ox + 1, 5, 14, 9, kFolder);
    if (open)
    {
        dc.SetPen(wxPen(kInk));
        dc.SetBrush(wxBrush(wxColour(252, 226, 120)));
        const wxPoint flap[] = {{ox + 3, 8}, {ox + 15, 8}, {ox + 13, 13}, {ox + 1, 13}};
        dc.DrawPolygon(4, flap);
    }
}

void Computer(wxDC& dc, int ox, bool globe)
{
    Box(dc, ox + 2, 1, 12, 9, kGrey);
    Box(dc, ox + 4, 3, 8, 5, kScreen);
    Box(dc, ox + 6, 10, 4, 2, kGrey);
    Box(dc, ox + 2, 12, 12, 3, kGrey);
    if (globe)
    {
        dc.SetPen(wxPen(kInk));
        dc.SetBrush(wxBrush(kGreen));
        dc.DrawCircle(ox + 12, 11, 3);
    }
}

void Drive(wxDC& dc, int ox, const wxColour& light, int height)
{
    const int top = 16 - height - 2;
    Box(dc, ox + 1, top, 14, height, kGrey);
    dc.SetPen(wxPen(light));
    dc.SetBrush(wxBrush(light));
    dc.DrawRectangle(ox + 11, top + height - 3, 2, 1);
}

void Page(wxDC& dc, int ox, const wxColour& background)
{
    dc.SetPen(wxPen(background));
    dc.SetBrush(wxBrush(background));
    dc.DrawRectangle(ox, 0, 16, 16);
    Box(dc, ox + 3, 1, 10, 14, kWhite);
}

void Wave(wxDC& dc, int ox)
{
    // A square wave across the page.
    dc.SetPen(wxPen(kWave, 1));
    const wxPoint pts[] = {{ox + 4, 10}, {ox + 6, 10}, {ox + 6, 5}, {ox + 9, 5},
                           {ox + 9, 10}, {ox + 11, 10}, {ox + 11, 5}, {ox + 12, 5}};
    dc.DrawLines(8, pts);
}

void DrawImage(wxDC& dc, int index)
{
    const int ox = index * 16;
    switch (index)
    {
    case 0: Folder(dc, ox, false); break;
    case 1: Folder(dc, ox, true); break;
    case 2: Computer(dc, ox, true); break;
    case 3:
        Box(dc, ox + 1, 2, 14, 11, kScreen);
        Box(dc, ox + 3, 4, 3, 3, kFolder);
        Box(dc, ox + 3, 8, 3, 3, kWhite);
        Box(dc, ox + 1, 13, 14, 2, kGrey);
        break;
    case 4: Computer(dc, ox, false); break;
    case 5:
        Box(dc, ox + 2, 2, 12, 12, kScreen);
        Box(dc, ox + 5, 2, 6, 4, kGrey);
        Box(dc, ox + 4, 9, 8, 5, kWhite);
        break;
    case 6: Drive(dc, ox, kGreen, 7); break;
    case 7:
        Drive(dc, ox, kGreen, 7);
        dc.SetPen(wxPen(kInk));
        dc.SetBrush(wxBrush(wxColour(200, 220, 240)));
        dc.DrawCircle(ox + 8, 5, 4);
        dc.DrawCircle(ox + 8, 5, 1);
        break;
    case 8:
        Page(dc, ox, kWhite);
        dc.SetPen(wxPen(kGreen, 2));
        dc.DrawLine(ox + 5, 8, ox + 7, 11);
        dc.DrawLine(ox + 7, 11, ox + 11, 4);
        break;
    case 9:
        Folder(dc, ox, false);
        Box(dc, ox + 5, 1, 7, 8, kWhite);
        break;
    case 10: Drive(dc, ox, wxColour(220, 60, 60), 5); break;
    case 11:
    case 12:
    case 13:
        Page(dc, ox, kPaper);
        Wave(dc, ox);
        break;
    case 14:
        Folder(dc, ox, false);
        dc.SetPen(wxPen(kGreen, 2));
        dc.DrawLine(ox + 8, 12, ox + 8, 6);
        dc.DrawLine(ox + 5, 8, ox + 8, 5);
        dc.DrawLine(ox + 11, 8, ox + 8, 5);
        break;
    default: break;
    }
}
} // namespace

wxBitmap LoadIconStrip()
{
    wxBitmap strip(240, 16, 24);
    wxMemoryDC dc(strip);
    dc.SetBackground(wxBrush(kWhite));
    dc.Clear();
    for (int i = 0; i < 15; ++i)
        DrawImage(dc, i);
    dc.SelectObject(wxNullBitmap);
    return strip;
}

wxIconBundle LoadProgramIcon()
{
    wxIconBundle bundle;
    for (int size : {16, 32, 48})
    {
        wxIcon icon;
        icon.CopyFromBitmap(wxBitmap(DrawProgramIcon(size)));
        bundle.AddIcon(icon);
    }
    return bundle;
}

wxCursor LoadDragCursor()
{
    // An arrow with a plus sign over a small box.
    const wxColour transparent(255, 0, 255);
    wxBitmap bitmap(32, 32, 24);
    {
        wxMemoryDC dc(bitmap);
        dc.SetBackground(wxBrush(transparent));
        dc.Clear();
        dc.SetPen(wxPen(*wxBLACK));
        dc.SetBrush(*wxWHITE_BRUSH);
        const wxPoint arrow[] = {{0, 0}, {0, 15}, {4, 11}, {7, 17}, {9, 16}, {6, 10}, {11, 10}};
        dc.DrawPolygon(7, arrow);
        dc.DrawRectangle(10, 16, 11, 11);
        dc.DrawLine(12, 21, 19, 21);
        dc.DrawLine(15, 18, 15, 25);
    }
    wxImage image = bitmap.ConvertToImage();
    image.SetMaskColour(255, 0, 255);
    image.SetOption(wxIMAGE_OPTION_CUR_HOTSPOT_X, 0);
    image.SetOption(wxIMAGE_OPTION_CUR_HOTSPOT_Y, 0);
    return wxCursor(image);
}
