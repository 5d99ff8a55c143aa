// SPDX-License-Identifier: GPL-3.0-or-later
#include "naming/TagNameRule.h"

#include "core/TagFile.h"
#include "naming/Id3v2Texts.h"

#include <cstdio>

namespace {

// A field for a name: filtered, and without the blanks at its ends (ID3v2
// writers pad as freely as ID3v1 ones).
void CleanFieldInto(std::string_view utf8, std::string& field)
{
    CleanUtf8NameInto(utf8, field);
    TrimBlanksInPlace(field);
}

} // namespace

std::size_t CTagNameRule::HeadBytes() const
{
    return m_tags == TagChoice::V1 ? 0 : kId3v2FirstRead;
}

std::string CTagNameRule::NewName(int fd, long long size, bool artistFirst, std::string& newName)
{
    if (m_tags != TagChoice::V1) {
        const unsigned wanted = kFieldTitle | (m_format != nullptr ? m_format->Fields()
                                                                   : artistFirst ? kFieldArtist : 0u);
        SongFields& texts = m_texts;
        const int read = ReadId3v2Texts(fd, size, wanted, texts);
        if (read < 0)
            return kStateUnreadable;
        // Unicode already: the filter, with no code page; only the fields
        // the name is made of (the others are empty).
        SongFields& fields = m_fields;
        CleanFieldInto(texts.title, fields.title);
        CleanFieldInto(texts.artist, fields.artist);
        CleanFieldInto(texts.album, fields.album);
        CleanFieldInto(texts.year, fields.year);
        CleanFieldInto(texts.track, fields.track);
        CleanFieldInto(texts.genre, fields.genre);
        if (read > 0 && (m_tags == TagChoice::V2 || !fields.title.empty()))
            return Named(fields, artistFirst, newName);
        if (m_tags == TagChoice::V2)
            return kStateSongNotFound;
    }
    return FromId3v1(fd, size, artistFirst, newName);
}

std::string CTagNameRule::FromId3v1(int fd, long long size, bool artistFirst, std::string& newName)
{
    CTagFile& tags = TheTagFile();
    if (m_format == nullptr) {
        const std::string state = tags.ReadSongNameFrom(fd, size, m_fields.title, m_fields.artist);
        if (state == kStateSuccessful)
            ComposeTargetNameInto(newName, m_fields.title, m_fields.artist, artistFirst);
        return state;
    }
    SongFields raw, fields;
    std::string comment;
    int genre = -1;
    switch (tags.ReadTagFrom(fd, size, raw.title, raw.artist, raw.album, raw.year, comment, raw.track, genre)) {
    case 1: break;
    case -2: return kStateSongNotFound;
    default: return kStateUnreadable;
    }
    // For a template, as for ID3v2: blanks at the ends are no part of a field.
    for (auto [from, to] : {std::pair{&raw.title, &fields.title}, std::pair{&raw.artist, &fields.artist},
                            std::pair{&raw.album, &fields.album}, std::pair{&raw.year, &fields.year}}) {
        tags.CleanName(*from, *to);
        TrimBlanksInPlace(*to);
    }
    if (!raw.track.empty()) {
        char digits[8];
        std::snprintf(digits, sizeof digits, "%02u", static_cast<unsigned char>(raw.track[0]));
        fields.track = digits;
    }
    if (const char* name = GenreName(genre))
        tags.CleanName(name, fields.genre);
    return Named(fields, artistFirst, newName);
}

std::string CTagNameRule::Named(const SongFields& fields, bool artistFirst, std::string& newName) const
{
    if (m_format != nullptr) {
        const std::string name = m_format->Compose(fields);
        if (name.empty())
            return kStateSongNotFound;
        newName = name + ".mp3";
    } else {
        if (fields.title.empty())
            return kStateSongNotFound;
        ComposeTargetNameInto(newName, fields.title, fields.artist, artistFirst);
    }
    return kStateSuccessful;
}
