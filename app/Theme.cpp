// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/Theme.h"

#include <wx/gdicmn.h>
#include <wx/string.h>
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

namespace
{
// The label that draws a control's text: the control itself, or the label
// inside a button or check box.
GtkWidget* TextWidget(GtkWidget* widget)
{
    if (!widget || GTK_IS_LABEL(widget))
        return widget;
    if (!GTK_IS_CONTAINER(widget))
        return nullptr;
    GtkWidget* found = nullptr;
    GList* children = gtk_container_get_children(GTK_CONTAINER(widget));
    for (GList* child = children; child && !found; child = child->next)
        found = TextWidget(GTK_WIDGET(child->data));
    g_list_free(children);
    return found;
}
} // namespace

wxSize DrawnTextSize(wxWindow* control, const wxString& text, int wrapWidth)
{
    GtkWidget* label = control ? TextWidget(control->GetHandle()) : nullptr;
    if (!label)
        return control ? control->GetTextExtent(text) : wxSize();
    PangoLayout* layout = gtk_widget_create_pango_layout(label, text.utf8_str());
    if (wrapWidth > 0)
    {
        pango_layout_set_width(layout, wrapWidth * PANGO_SCALE);
        pango_layout_set_wrap(layout, PANGO_WRAP_WORD);
    }
    int width = 0, height = 0;
    pango_layout_get_pixel_size(layout, &width, &height);
    g_object_unref(layout);
    return wxSize(width, height);
}

wxSize NaturalSize(wxWindow* control)
{
    if (!control || !control->GetHandle())
        return wxSize();
    // What it asks for by itself, not the size it was given.
    GtkWidget* widget = control->GetHandle();
    int width = -1, height = -1;
    gtk_widget_get_size_request(widget, &width, &height);
    gtk_widget_set_size_request(widget, -1, -1);
    GtkRequisition natural = {0, 0};
    gtk_widget_get_preferred_size(widget, nullptr, &natural);
    gtk_widget_set_size_request(widget, width, height);
    return wxSize(natural.width, natural.height);
}

void CentreTextLines(wxWindow* control)
{
    GtkWidget* label = control ? TextWidget(control->GetHandle()) : nullptr;
    if (label)
        gtk_label_set_justify(GTK_LABEL(label), GTK_JUSTIFY_CENTER);
}
