// SPDX-License-Identifier: GPL-3.0-or-later
// A name template (mp3tavoly-rename --format): fields of a file's tags and
// literal text; a part in square brackets is left out when a field in it is
// empty.
#pragma once

#include <string>
#include <vector>

// The texts a name is made of: from a tag, or (once filtered) for a name.
struct SongFields
{
    std::string title, artist, album, year, track, genre;
};

enum : unsigned
{
    kFieldTitle = 1,
    kFieldArtist = 2,
    kFieldAlbum = 4,
    kFieldYear = 8,
    kFieldTrack = 16,
    kFieldGenre = 32,
};

class CNameTemplate
{
public:
    // %t title, %a artist, %l album, %y year, %n track, %g genre, %% a '%';
    // any other byte is literal. false, with why, for an empty template, an
    // unknown or unfinished field, brackets unmatched or nested, and a '/' or
    // a zero byte (a file is renamed in its own folder).
    bool Parse(const std::string& text, std::string& why);

    // The fields it names (kField... bits).
    unsigned Fields() const { return m_fields; }

    // The name without ".mp3", from fields already through the name filter,
    // without blanks at its ends; empty when it would hold nothing but
    // blanks and the template's separators (punctuation). A field of blanks
    // only counts as empty for its brackets.
    std::string Compose(const SongFields& fields) const;

private:
    struct Piece
    {
        char field;         // 0 for literal text
        std::string text;   // the literal text
        int group;          // which brackets it is in; -1 outside
    };
    std::vector<Piece> m_pieces;
    unsigned m_fields = 0;
};
