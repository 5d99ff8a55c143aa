// SPDX-License-Identifier: GPL-3.0-or-later
// Warning boxes shown for real: above the window they were opened from, with
// the theme's warning icon on the screen. Run with and without a window
// manager (see CMakeLists.txt).
#include "GuiTest.h"

#include "app/Globals.h"
#include "app/Ids.h"
#include "app/RenamerDlg.h"
#include "editor/TagEditorDlg.h"
#include "queue/QueueList.h"

#include <wx/statbmp.h>
#include <wx/textctrl.h>
#include <wx/timer.h>

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <gdk/gdkx.h>
#include <gtk/gtk.h>

#include <cstdlib>
#include <functional>
#include <memory>

namespace
{
using DisplayPtr = std::unique_ptr<Display, int (*)(Display*)>;

::Window XidOf(wxWindow* win)
{
    GdkWindow* gdk = win && win->GetHandle() ? gtk_widget_get_window(win->GetHandle()) : nullptr;
    return gdk ? GDK_WINDOW_XID(gdk) : 0;
}

// The child of the root that holds w: the window manager's frame, or w.
::Window FrameOf(Display* display, ::Window w)
{
    while (w)
    {
        ::Window root = 0, parent = 0, *children = nullptr;
        unsigned count = 0;
        if (!XQueryTree(display, w, &root, &parent, &children, &count))
            return 0;
        if (children)
            XFree(children);
        if (parent == root)
            return w;
        w = parent;
    }
    return 0;
}

// Place in the stacking order, bottom first; -1 when not found.
int StackIndex(Display* display, ::Window frame)
{
    ::Window root = 0, parent = 0, *children = nullptr;
    unsigned count = 0;
    int index = -1;
    if (XQueryTree(display, DefaultRootWindow(display), &root, &parent, &children, &count))
    {
        for (unsigned i = 0; i < count; ++i)
        {
            if (children[i] == frame)
                index = static_cast<int>(i);
        }
        if (children)
            XFree(children);
    }
    return index;
}

bool IsMapped(Display* display, ::Window w)
{
    XWindowAttributes attributes;
    return w && XGetWindowAttributes(display, w, &attributes) && attributes.map_state == IsViewable;
}

// Runs open(), which shows a warning box; once the box has been on the
// screen for a moment, check(box) runs and the box closes. False when no box
// showed.
bool WhileWarningShows(Display* display, const std::function<void()>& open,
                       const std::function<void(CWarningBox*)>& check)
{
    bool seen = false;
    int ticks = 0, viewable = 0;
    wxTimer timer;
    timer.Bind(wxEVT_TIMER, [&](wxTimerEvent&) {
        CWarningBox* box = nullptr;
        for (wxWindow* win : wxTopLevelWindows)
        {
            if (auto* found = dynamic_cast<CWarningBox*>(win); found && found->IsModal())
                box = found;
        }
        ++ticks;
        if (box && IsMapped(display, XidOf(box)))
            ++viewable;
        // Time for a window manager to place it and for a raise to act.
        if (box && (viewable >= 8 || ticks >= 200))
        {
            timer.Stop();
            seen = true;
            check(box);
            box->EndModal(wxID_OK);
        }
        else if (ticks >= 200)
        {
            timer.Stop();
        }
    });
    timer.Start(50);
    open();
    timer.Stop();
    return seen;
}

// How much of the icon, read from the screen, stands out from the box's
// background: 0 for nothing drawn.
double IconCoverage(Display* display, CWarningBox* box)
{
    wxStaticBitmap* icon = nullptr;
    for (wxWindow* child : box->GetChildren())
    {
        if (!icon)
            icon = dynamic_cast<wxStaticBitmap*>(child);
    }
    if (!icon)
        return 0;
    const wxRect r = icon->GetScreenRect();
    const wxPoint corner = box->ClientToScreen(wxPoint(2, 2));
    XImage* background = XGetImage(display, DefaultRootWindow(display), corner.x, corner.y, 1, 1,
                                   AllPlanes, ZPixmap);
    XImage* image = XGetImage(display, DefaultRootWindow(display), r.x, r.y,
                              static_cast<unsigned>(r.width), static_cast<unsigned>(r.height),
                              AllPlanes, ZPixmap);
    if (!background || !image)
        return 0;
    const unsigned long bg = XGetPixel(background, 0, 0);
    int differing = 0;
    for (int y = 0; y < image->height; ++y)
    {
        for (int x = 0; x < image->width; ++x)
        {
            const unsigned long p = XGetPixel(image, x, y);
            int diff = 0;
            for (int shift : {0, 8, 16})
                diff += std::abs(static_cast<int>((p >> shift) & 0xFF) - static_cast<int>((bg >> shift) & 0xFF));
            if (diff > 90)
                ++differing;
        }
    }
    const double coverage = static_cast<double>(differing) / (image->width * image->height);
    XDestroyImage(image);
    XDestroyImage(background);
    return coverage;
}

class WarningBoxTest : public MainWindowTestBase
{
protected:
    DisplayPtr display{XOpenDisplay(nullptr), XCloseDisplay};
    TempDir dir;
};
} // namespace

TEST_F(WarningBoxTest, StandsAboveTheWindowItWasOpenedFromWithTheThemesIcon)
{
    ASSERT_NE(display.get(), nullptr);
    const std::string path = dir.Write("song.mp3", Mp3Bytes("Song"));
    g_queue.AppendEntry("song.mp3", path);
    g_queue.SelectRow(0);
    dlg->OpenTagEditor();
    wxDialog* editor = g_tagEditor.GetWindow();
    Flush();
    wxMilliSleep(300);
    Flush();
    // The name the user left without its ".mp3".
    wxDynamicCast(editor->FindWindow(IDC_TAG_FILENAME), wxTextCtrl)->ChangeValue("song");

    const auto useDarkTheme = [](gboolean dark) {
        GtkSettings* settings = gtk_settings_get_default();
        g_object_set(settings, "gtk-application-prefer-dark-theme", dark, nullptr);
        g_object_set(settings, "gtk-theme-name", "HighContrast", nullptr);
        g_object_set(settings, "gtk-theme-name", "Adwaita", nullptr);
    };
    for (const gboolean dark : {FALSE, TRUE})
    {
        SCOPED_TRACE(dark ? "dark theme" : "light theme");
        useDarkTheme(dark);
        const bool shown = WhileWarningShows(
            display.get(), [] { g_tagEditor.OnSave(); },
            [&](CWarningBox* box) {
                EXPECT_EQ(box->GetParent(), editor);
                const int boxAt = StackIndex(display.get(), FrameOf(display.get(), XidOf(box)));
                EXPECT_GT(boxAt, StackIndex(display.get(), FrameOf(display.get(), XidOf(editor))));
                EXPECT_GT(boxAt, StackIndex(display.get(), FrameOf(display.get(), XidOf(dlg))));
                EXPECT_GT(IconCoverage(display.get(), box), 0.1);
            });
        EXPECT_TRUE(shown);
    }
    useDarkTheme(FALSE);
    EXPECT_EQ(g_queue.GetPath(0), path);
}
