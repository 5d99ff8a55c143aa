// SPDX-License-Identifier: GPL-3.0-or-later
// What a trial takes the folders to hold: the names it has moved so far, over
// what the disk holds. Names are not copied: the model refers to each by its
// item (a file of the plan, or a move of an undo) and asks the owner for the
// bytes, so that a trial of a million files costs a few bytes a name.
#pragma once

#include "platform/FolderTable.h"

#include <cstdint>
#include <functional>
#include <string_view>
#include <unordered_map>
#include <vector>

class CFolderModel
{
public:
    struct Name
    {
        std::uint32_t folder;    // any number that tells folders apart
        std::string_view name;   // must stay where it is while the model lives
    };
    // Item's old name (isNew false) or new name.
    using NameOf = std::function<Name(std::uint32_t item, bool isNew)>;
    // The identity of item's file.
    using FileOf = std::function<FileId(std::uint32_t item)>;

    static constexpr std::uint32_t kMaxItems = 1u << 29;

    // oldNamesKnown: each item's file was just found under its old name
    // (with the identity fileOf gives), so that name need not be looked up.
    CFolderModel(NameOf nameOf, FileOf fileOf, bool oldNamesKnown);

    // Room for this many names without growing (a growth holds the old
    // table and the new one at once).
    void Reserve(std::size_t names);

    // What the folder (open as fd) holds under item's old or new name, as the
    // trial has left it: true with its identity, false when nothing.
    [[nodiscard]] bool Entry(std::uint32_t item, bool isNew, int fd, FileId& id) const;

    // MoveNoReplaceAt as it would go, for item's file from its old name to its
    // new one (toNew) or back: 1, or 0 with err as errno would be. Items are
    // below kMaxItems.
    [[nodiscard]] int Move(std::uint32_t item, bool toNew, int fd, int& err);

private:
    // A name the trial has changed: which item's name it is, whether it is
    // held now, and by whose file.
    struct Slot
    {
        std::uint32_t item;
        std::uint32_t owner : 29;   // whose file holds it
        std::uint32_t isNew : 1;
        std::uint32_t state : 2;    // kEmpty, kFree, kHeld
    };
    struct Rights
    {
        bool writable;
        bool stickyForMe;   // sticky and not ours: others' files stay put
    };

    std::size_t Find(const Name& name) const;
    Slot& Put(std::uint32_t item, bool isNew);
    void Grow();
    bool SameEntry(std::uint32_t item, int fd) const;
    const Rights& RightsOf(std::uint32_t folder, int fd);

    NameOf m_nameOf;
    FileOf m_fileOf;
    bool m_oldNamesKnown;
    std::vector<Slot> m_slots;
    std::size_t m_used = 0;
    std::unordered_map<std::uint32_t, Rights> m_rights;
};
