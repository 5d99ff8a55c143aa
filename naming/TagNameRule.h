// SPDX-License-Identifier: GPL-3.0-or-later
// mp3tavoly-rename's naming: which tag the texts come from (--tag) and what a
// name is made of (-a or -t, or a template of --format).
#pragma once

#include "core/RenameBatch.h"
#include "naming/NameTemplate.h"

enum class TagChoice
{
    V1,    // the window's: ID3v1
    V2,    // ID3v2
    Any,   // ID3v2 where it has a title, ID3v1 otherwise
};

class CTagNameRule : public NameRule
{
public:
    // format null: the window's composition, title or artist - title.
    CTagNameRule(TagChoice tags, const CNameTemplate* format) : m_tags(tags), m_format(format) {}

    std::string NewName(int fd, long long size, bool artistFirst, std::string& newName) override;
    std::size_t HeadBytes() const override;

private:
    std::string FromId3v1(int fd, long long size, bool artistFirst, std::string& newName);
    std::string Named(const SongFields& fields, bool artistFirst, std::string& newName) const;

    TagChoice m_tags;
    const CNameTemplate* m_format;
    SongFields m_texts, m_fields;   // NewName's, kept for their room
};
