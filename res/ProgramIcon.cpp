// SPDX-License-Identifier: GPL-3.0-or-later
#include "res/ProgramIcon.h"

#include <wx/brush.h>
#include <wx/graphics.h>
#include <wx/pen.h>

#include <algorithm>
#include <cmath>
#include <memory>

wxImage DrawProgramIcon(int size)
{
    wxImage image(size, size);
    image.InitAlpha();
    std::fill(image.GetAlpha(), image.GetAlpha() + size * size, static_cast<unsigned char>(0));
    {
        std::unique_ptr<wxGraphicsContext> gc(wxGraphicsContext::Create(image));
        if (!gc)
            return image;
        // Designed on a 16 x 16 grid; lines of odd pixel width sit on pixel
        // centres so that the small sizes stay sharp.
        const double s = size / 16.0;
        auto px = [s](double v) { return std::round(v * s); };
        const double outline = std::max(1.0, px(0.7));

        // A music note over a page: the program renames songs. The page's
        // outline is drawn inside the 2..14 x 1..15 square of the grid.
        gc->SetPen(wxPen(wxColour(40, 40, 48), static_cast<int>(outline)));
        gc->SetBrush(wxBrush(wxColour(255, 255, 255)));
        gc->DrawRoundedRectangle(px(2) + outline / 2, px(1) + outline / 2,
                                 px(14) - px(2) - outline, px(15) - px(1) - outline,
                                 size >= 32 ? px(1) : 0);

        const wxColour wave(30, 90, 200);
        const double stem = std::max(1.0, px(1));
        const double stemX = px(7.5) + std::fmod(stem, 2.0) / 2.0;
        gc->SetPen(*wxTRANSPARENT_PEN);
        gc->SetBrush(wxBrush(wave));
        gc->DrawEllipse(px(4), px(10), stemX + stem / 2 - px(4), px(3));
        wxPen line(wave, static_cast<int>(stem));
        line.SetCap(wxCAP_BUTT);
        gc->SetPen(line);
        gc->StrokeLine(stemX, px(11.5), stemX, px(3));
        line.SetCap(wxCAP_ROUND);
        gc->SetPen(line);
        gc->StrokeLine(stemX, px(3) + stem / 2, px(11.5), px(5));
    }
    return image;
}
