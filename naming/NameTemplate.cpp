// SPDX-License-Identifier: GPL-3.0-or-later
#include "naming/NameTemplate.h"

#include "core/TagFile.h"
#include "core/TextCodec.h"
#include "core/Translate.h"

namespace {

unsigned FieldBit(char field)
{
    switch (field) {
    case 't': return kFieldTitle;
    case 'a': return kFieldArtist;
    case 'l': return kFieldAlbum;
    case 'y': return kFieldYear;
    case 'n': return kFieldTrack;
    case 'g': return kFieldGenre;
    default: return 0;
    }
}

const std::string& Value(const SongFields& fields, char field)
{
    switch (field) {
    case 't': return fields.title;
    case 'a': return fields.artist;
    case 'l': return fields.album;
    case 'y': return fields.year;
    case 'n': return fields.track;
    default: return fields.genre;
    }
}

// Whether a name holds nothing but the separators of its template and
// blanks: punctuation, ASCII or Unicode (U+2010-U+205E), and spaces.
bool OnlySeparators(std::string_view name)
{
    for (std::size_t i = 0; i < name.size();) {
        const unsigned char byte = static_cast<unsigned char>(name[i]);
        if (byte < 0x80) {
            if ((byte >= '0' && byte <= '9') || ((byte | 0x20) >= 'a' && (byte | 0x20) <= 'z'))
                return false;
            ++i;
            continue;
        }
        const char32_t c = NextCodePoint(name, i);
        if (!IsBlankCodePoint(c) && !(c >= 0x2010 && c <= 0x205E))
            return false;
    }
    return true;
}

} // namespace

bool CNameTemplate::Parse(const std::string& text, std::string& why)
{
    m_pieces.clear();
    m_fields = 0;
    if (text.empty()) {
        why = Tr("an empty template");
        return false;
    }
    int group = -1, groups = 0;
    const auto literal = [this, &group](const std::string& bytes) {
        if (m_pieces.empty() || m_pieces.back().field != 0 || m_pieces.back().group != group)
            m_pieces.push_back(Piece{0, std::string(), group});
        m_pieces.back().text += bytes;
    };
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '/' || c == '\0') {
            why = Tr("a name cannot hold '/' or a zero byte");
            return false;
        }
        if (c == '%') {
            if (i + 1 == text.size()) {
                // xgettext:no-c-format
                why = Tr("a '%' at the end (%% for a '%')");
                return false;
            }
            const char field = text[++i];
            if (field == '%') {
                literal("%");
            } else if (FieldBit(field) != 0) {
                m_pieces.push_back(Piece{field, std::string(), group});
                m_fields |= FieldBit(field);
            } else {
                why = FormatText(Tr("unknown field '%%%c'"), field);
                return false;
            }
        } else if (c == '[') {
            if (group >= 0) {
                why = Tr("brackets inside brackets");
                return false;
            }
            group = groups++;
        } else if (c == ']') {
            if (group < 0) {
                why = Tr("a ']' without its '['");
                return false;
            }
            group = -1;
        } else {
            literal(std::string(1, c));
        }
    }
    if (group >= 0) {
        why = Tr("a '[' without its ']'");
        return false;
    }
    return true;
}

std::string CNameTemplate::Compose(const SongFields& fields) const
{
    std::string name, part;
    int group = -1;
    bool partEmpty = false;
    const auto endGroup = [&] {
        if (group >= 0 && !partEmpty)
            name += part;
        part.clear();
        partEmpty = false;
    };
    for (const Piece& piece : m_pieces) {
        if (piece.group != group) {
            endGroup();
            group = piece.group;
        }
        const std::string& text = piece.field != 0 ? Value(fields, piece.field) : piece.text;
        if (piece.field != 0 && IsBlankText(text))
            partEmpty = true;
        (group >= 0 ? part : name) += text;
    }
    endGroup();
    // A name may not begin with a blank, and one before ".mp3" is no part of
    // it either.
    const std::string_view kept = TrimBlanks(name);
    return OnlySeparators(kept) ? std::string() : std::string(kept);
}
