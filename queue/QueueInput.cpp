// SPDX-License-Identifier: GPL-3.0-or-later
// How files come into the queue: from the directory list, by folder search,
// and dropped from a file manager.
#include "queue/QueueList.h"

#include "app/Globals.h"
#include "browser/DirList.h"

#include "platform/FileSystem.h"

#include <wx/utils.h>

#include <sys/stat.h>

int ClassifyPath(const std::string& path)
{
    if (path.empty())
        return PATH_OTHER;
    if (HasMp3Suffix(path.data(), path.size()))
        return PATH_MP3;
    struct stat st;
    if (stat(path.c_str(), &st) != 0)
        return PATH_FOLDER;   // the search then finds nothing to enter
    return S_ISDIR(st.st_mode) ? PATH_FOLDER : PATH_OTHER;
}

int CQueueList::AddEntry(const std::string& name, const std::string& path, int kind)
{
    if (path.empty())
        return 0;
    if (kind == ADD_MP3)
    {
        if (name.empty())
            return 0;
        AppendEntry(name, path);
        m_session.Release();
    }
    else if (kind == ADD_FOLDER)
    {
        wxBusyCursor wait;
        SearchFolder(path);
    }
    UpdateCounts();
    return 1;
}

bool CQueueList::SearchFolder(const std::string& folder)
{
    BeginAdding();
    const bool found = m_session.SearchFolder(folder, [this](std::uint32_t in, const std::string& name,
                                                             const std::string& path) {
        AppendEntry(name, path, in);
    });
    EndAdding();
    return found;
}

void CQueueList::DropFiles(const std::vector<std::string>& paths)
{
    BeginAdding();
    for (const std::string& path : paths)
    {
        switch (ClassifyPath(path))
        {
        case PATH_FOLDER:
            SearchFolder(path);
            break;
        case PATH_MP3:
        {
            // Only '/' separates here; a backslash belongs to the name.
            const size_t slash = path.rfind('/');
            AddEntry(slash == std::string::npos ? path : path.substr(slash + 1), path, ADD_MP3);
            break;
        }
        default:
            break;
        }
    }
    EndAdding();
    UpdateCounts();
}

void CQueueList::EndDragFromDirList()
{
    if (g_dirList.m_bDragging != 1)
        return;
    g_dirList.m_bDragging = 0;
    g_dirList.AddSelectedToQueue();
}

static int HexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

std::vector<std::string> ParseUriList(const std::string& uriList)
{
    std::vector<std::string> paths;
    size_t start = 0;
    while (start < uriList.size())
    {
        size_t end = uriList.find('\n', start);
        if (end == std::string::npos)
            end = uriList.size();
        std::string line = uriList.substr(start, end - start);
        start = end + 1;
        while (!line.empty() && (line.back() == '\r' || line.back() == '\0'))
            line.pop_back();
        if (line.empty() || line[0] == '#')
            continue;
        std::string rest;
        if (line.compare(0, 7, "file://") == 0)
        {
            // file:///path or file://localhost/path; other hosts are not ours.
            const size_t slash = line.find('/', 7);
            if (slash == std::string::npos)
                continue;
            const std::string host = line.substr(7, slash - 7);
            if (!host.empty() && host != "localhost")
                continue;
            rest = line.substr(slash);
        }
        else if (line.compare(0, 6, "file:/") == 0)
        {
            rest = line.substr(5);
        }
        else
        {
            continue;
        }
        std::string path;
        bool usable = true;
        for (size_t i = 0; i < rest.size(); ++i)
        {
            if (rest[i] == '%' && i + 2 < rest.size() && HexValue(rest[i + 1]) >= 0 &&
                HexValue(rest[i + 2]) >= 0)
            {
                const char byte = static_cast<char>(HexValue(rest[i + 1]) * 16 + HexValue(rest[i + 2]));
                if (byte == '\0')
                    usable = false;   // would cut the path short
                path += byte;
                i += 2;
            }
            else
            {
                path += rest[i];
            }
        }
        if (usable && !path.empty())
            paths.push_back(path);
    }
    return paths;
}
