// SPDX-License-Identifier: GPL-3.0-or-later
// Reads a running program's windows over AT-SPI, as a screen reader does, and
// prints them: one line per object (role, name, states, description), and for a table its
// column headings and the cells of its first rows, tab-separated.
// Usage: tavoly_atspi_dump PID [ROWS]. Waits up to ten seconds for the
// program to appear on the bus; exit 2 when it does not.
// tavoly_atspi_dump --events: prints "ready", then the events a screen reader
// follows (focus, current row, selection, changed names), one a line, until
// it is ended.
#include <atspi/atspi.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>

namespace
{
std::string Take(gchar* text)
{
    std::string s = text ? text : "";
    g_free(text);
    return s;
}

std::string States(AtspiAccessible* object)
{
    static const struct
    {
        AtspiStateType state;
        const char* name;
    } kShown[] = {
        {ATSPI_STATE_FOCUSABLE, "focusable"}, {ATSPI_STATE_FOCUSED, "focused"},
        {ATSPI_STATE_SELECTABLE, "selectable"}, {ATSPI_STATE_SELECTED, "selected"},
        {ATSPI_STATE_MANAGES_DESCENDANTS, "manages-descendants"},
        {ATSPI_STATE_SHOWING, "showing"}, {ATSPI_STATE_EDITABLE, "editable"},
    };
    std::string out;
    AtspiStateSet* set = atspi_accessible_get_state_set(object);
    for (const auto& s : kShown)
    {
        if (set && atspi_state_set_contains(set, s.state))
            out += std::string(out.empty() ? "" : " ") + s.name;
    }
    if (set)
        g_object_unref(set);
    return out;
}

void PrintTable(AtspiTable* table, int depth, int rows)
{
    const int nRows = atspi_table_get_n_rows(table, nullptr);
    const int nCols = atspi_table_get_n_columns(table, nullptr);
    std::printf("%*stable %d rows %d columns\n", depth * 2, "", nRows, nCols);
    std::string line;
    // The headings as objects of their own, which a reader announces.
    for (int c = 0; c < nCols; ++c)
    {
        AtspiAccessible* header = atspi_table_get_column_header(table, c, nullptr);
        line += (c ? "\t" : "") + (header ? Take(atspi_accessible_get_name(header, nullptr)) : "?");
        if (header)
            g_object_unref(header);
    }
    std::printf("%*sheadings\t%s\n", depth * 2, "", line.c_str());
    for (int r = 0; r < nRows && r < rows; ++r)
    {
        line.clear();
        std::string states;
        for (int c = 0; c < nCols; ++c)
        {
            AtspiAccessible* cell = atspi_table_get_accessible_at(table, r, c, nullptr);
            if (!cell)
                continue;
            line += (c ? "\t" : "") + Take(atspi_accessible_get_name(cell, nullptr));
            if (c == 0)
                states = Take(atspi_accessible_get_role_name(cell, nullptr)) + " [" + States(cell) + "]";
            g_object_unref(cell);
        }
        std::printf("%*srow %d\t%s\t(%s)\n", depth * 2, "", r, line.c_str(), states.c_str());
    }
}

void Print(AtspiAccessible* object, int depth, int rows)
{
    const std::string role = Take(atspi_accessible_get_role_name(object, nullptr));
    const std::string name = Take(atspi_accessible_get_name(object, nullptr));
    const std::string description = Take(atspi_accessible_get_description(object, nullptr));
    std::printf("%*s%s \"%s\" [%s]%s\n", depth * 2, "", role.c_str(), name.c_str(), States(object).c_str(),
                description.empty() ? "" : (" description \"" + description + "\"").c_str());
    AtspiTable* table = atspi_accessible_get_table_iface(object);
    if (table)
    {
        PrintTable(table, depth + 1, rows);
        g_object_unref(table);
        return;
    }
    const int n = atspi_accessible_get_child_count(object, nullptr);
    for (int i = 0; i < n && i < 200; ++i)
    {
        AtspiAccessible* child = atspi_accessible_get_child_at_index(object, i, nullptr);
        if (child)
        {
            Print(child, depth + 1, rows);
            g_object_unref(child);
        }
    }
}
void OnEvent(AtspiEvent* event, void*)
{
    std::string about;
    if (G_VALUE_HOLDS(&event->any_data, ATSPI_TYPE_ACCESSIBLE))
    {
        auto* object = static_cast<AtspiAccessible*>(g_value_get_object(&event->any_data));
        if (object)
            about = Take(atspi_accessible_get_name(object, nullptr));
    }
    else if (G_VALUE_HOLDS_STRING(&event->any_data) && g_value_get_string(&event->any_data))
    {
        about = g_value_get_string(&event->any_data);
    }
    const std::string source = event->source ? Take(atspi_accessible_get_name(event->source, nullptr)) : "";
    std::printf("%s\t%s\t%d\t%s\n", event->type, source.c_str(), event->detail1, about.c_str());
    std::fflush(stdout);
}

int ListenForEvents()
{
    AtspiEventListener* listener = atspi_event_listener_new(OnEvent, nullptr, nullptr);
    for (const char* type : {"object:active-descendant-changed", "object:selection-changed",
                             "object:state-changed:focused", "object:property-change:accessible-name"})
    {
        if (!atspi_event_listener_register(listener, type, nullptr))
            return 2;
    }
    std::printf("ready\n");
    std::fflush(stdout);
    atspi_event_main();
    return 0;
}
} // namespace

int main(int argc, char** argv)
{
    if (argc < 2)
        return 1;
    if (std::string(argv[1]) == "--events")
        return atspi_init() < 0 ? 2 : ListenForEvents();
    const guint pid = static_cast<guint>(std::atoi(argv[1]));
    const int rows = argc > 2 ? std::atoi(argv[2]) : 20;
    if (atspi_init() < 0)
        return 2;
    for (int attempt = 0; attempt < 100; ++attempt)
    {
        AtspiAccessible* desktop = atspi_get_desktop(0);
        const int n = atspi_accessible_get_child_count(desktop, nullptr);
        for (int i = 0; i < n; ++i)
        {
            AtspiAccessible* app = atspi_accessible_get_child_at_index(desktop, i, nullptr);
            if (!app)
                continue;
            const bool ours = atspi_accessible_get_process_id(app, nullptr) == pid &&
                              atspi_accessible_get_child_count(app, nullptr) > 0;
            if (ours)
                Print(app, 0, rows);
            g_object_unref(app);
            if (ours)
            {
                g_object_unref(desktop);
                std::fflush(stdout);
                return 0;
            }
        }
        g_object_unref(desktop);
        usleep(100000);
    }
    std::fprintf(stderr, "pid %u is not on the accessibility bus\n", pid);
    return 2;
}
