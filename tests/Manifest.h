// SPDX-License-Identifier: GPL-3.0-or-later
// Checksum manifests of a folder, taken before and after a fault, to count
// files lost, replaced or corrupted.
#pragma once

#include <cstdint>
#include <dirent.h>
#include <fstream>
#include <iterator>
#include <map>
#include <ostream>
#include <set>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

// Name -> what is there: "f" and a checksum of the bytes for a file, "d" for
// a folder, "p" for a FIFO, "l" and the target for a link.
using Manifest = std::map<std::string, std::string>;

// The manifest's entry for a file of these bytes.
inline std::string Checksum(const std::string& bytes)
{
    std::uint64_t h = 1469598103934665603ull;   // FNV-1a
    for (const char c : bytes)
        h = (h ^ static_cast<unsigned char>(c)) * 1099511628211ull;
    return "f" + std::to_string(h);
}

inline std::string FileChecksum(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return Checksum(std::string(std::istreambuf_iterator<char>(in), {}));
}

// Keys are names; with `deep`, folders are walked too and keys are paths
// below the folder ("sub/name").
inline void AddToManifest(Manifest& m, const std::string& folder, bool deep,
                          const std::string& prefix = "")
{
    DIR* d = opendir(folder.c_str());
    if (d == nullptr)
        return;
    while (const dirent* e = readdir(d)) {
        const std::string name = e->d_name;
        if (name == "." || name == "..")
            continue;
        const std::string path = folder + "/" + name;
        struct stat st;
        if (lstat(path.c_str(), &st) != 0)
            continue;
        std::string& what = m[prefix + name];
        if (S_ISREG(st.st_mode)) {
            what = FileChecksum(path);
        } else if (S_ISLNK(st.st_mode)) {
            char target[4096];
            const ssize_t n = readlink(path.c_str(), target, sizeof target);
            what = "l" + std::string(target, n > 0 ? static_cast<std::size_t>(n) : 0);
        } else {
            what = S_ISDIR(st.st_mode) ? "d" : "p";
            if (deep && S_ISDIR(st.st_mode))
                AddToManifest(m, path, deep, prefix + name + "/");
        }
    }
    closedir(d);
}

inline Manifest TakeManifest(const std::string& folder, bool deep = false)
{
    Manifest m;
    AddToManifest(m, folder, deep);
    return m;
}

struct Losses
{
    int lost = 0;        // a content that should be there is not
    int replaced = 0;    // a file another process made is gone (moved over)
    int corrupted = 0;   // a content that should not be there is
    bool operator==(const Losses& o) const
    {
        return lost == o.lost && replaced == o.replaced && corrupted == o.corrupted;
    }
};

inline std::ostream& operator<<(std::ostream& out, const Losses& l)
{
    return out << "lost " << l.lost << ", replaced " << l.replaced << ", corrupted " << l.corrupted;
}

// Compares contents, names aside (a rename changes names only): the contents
// after must be those before, less `gone` (removed on purpose) plus `added`
// (written on purpose). A missing content of `others` (files another process
// made) counts as replaced.
inline Losses Compare(const Manifest& before, const Manifest& after,
                      const std::multiset<std::string>& gone = {},
                      const std::multiset<std::string>& added = {},
                      const std::set<std::string>& others = {})
{
    std::multiset<std::string> expected, found;
    for (const auto& entry : before)
        expected.insert(entry.second);
    for (const std::string& c : gone) {
        const auto it = expected.find(c);
        if (it != expected.end())
            expected.erase(it);
    }
    expected.insert(added.begin(), added.end());
    for (const auto& entry : after)
        found.insert(entry.second);
    Losses l;
    for (auto it = expected.begin(); it != expected.end(); it = expected.upper_bound(*it)) {
        const int missing = static_cast<int>(expected.count(*it)) - static_cast<int>(found.count(*it));
        if (missing > 0)
            (others.count(*it) ? l.replaced : l.lost) += missing;
    }
    for (auto it = found.begin(); it != found.end(); it = found.upper_bound(*it)) {
        const int extra = static_cast<int>(found.count(*it)) - static_cast<int>(expected.count(*it));
        if (extra > 0)
            l.corrupted += extra;
    }
    return l;
}
