// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/Theme.h"

#include <wx/window.h>

#include <gtk/gtk.h>

// The windows are laid out in dialog units for compact controls; the default
// GTK theme pads buttons, entries and sliders beyond those rectangles (a
// slider would not be drawn at all).
static const char kCss[] =
    "button { padding: 1px 4px; min-height: 0; min-width: 0; }\n"
    "entry { min-height: 0; padding-top: 1px; padding-bottom: 1px; }\n"
    "scale { padding: 0; margin: 0; min-height: 0; }\n"
    "scale trough { min-height: 4px; margin: 0; }\n"
    "scale slider { min-height: 14px; min-width: 14px; margin: -6px 0; }\n"
    "entry.tight { padding-left: 2px; padding-right: 2px; }\n";

void ApplyCompactTheme()
{
    GdkScreen* screen = gdk_screen_get_default();
    if (!screen)
        return;
    GtkCssProvider* provider = gtk_css_provider_new();
    if (gtk_css_provider_load_from_data(provider, kCss, -1, nullptr))
    {
        gtk_style_context_add_provider_for_screen(screen, GTK_STYLE_PROVIDER(provider),
                                                  GTK_STYLE_PROVIDER_PRIORITY_APPLICATION);
    }
    g_object_unref(provider);
}

void KeepUsableBesideModalMain(wxWindow* window)
{
    // Only once the window is realized: a dialog realized while in a group
    // of its own is put back under the modal window's grab by wx.
    if (!window || !window->GetHandle())
        return;
    GtkWindow* gtkWindow = GTK_WINDOW(window->GetHandle());
    if (!gtk_window_has_group(gtkWindow))
    {
        GtkWindowGroup* group = gtk_window_group_new();
        gtk_window_group_add_window(group, gtkWindow);
        g_object_unref(group);
    }
}

void MakeEntryTight(wxWindow* entry)
{
    if (entry && entry->GetHandle())
        gtk_style_context_add_class(gtk_widget_get_style_context(entry->GetHandle()), "tight");
}
