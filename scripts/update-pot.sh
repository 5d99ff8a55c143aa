#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Extracts the texts people read into the templates, and merges them into
# every language's catalogue (new texts come untranslated, changed ones fuzzy).
# The programs' texts: Tr, TrN and N_ in the sources, the desktop entry, the
# AppStream metadata. The manual pages: po4a.
set -eu
cd "$(dirname "$0")/.."
pot=po/mp3tavoly.pot
version=$(sed -n 's/^project(Mp3Tavoly VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
# Every run writes the header, so each one is told the package.
header=(--package-name=mp3tavoly --package-version="$version" --msgid-bugs-address=help@example.org
        --copyright-holder="The Mp3 Tavoly developers")
mapfile -t sources < <(git ls-files '*.cpp' '*.h' | grep -v -E '^(tests|bench)/')
# The texts keep the program's "\r\n" line breaks, which xgettext warns about.
quiet() { grep -v "should not contain the '\\\\r' escape sequence" >&2 || true; }
xgettext --from-code=UTF-8 --language=C++ --keyword=Tr --keyword=TrN:1,2 --keyword=TrUi --keyword=N_ \
  --add-comments=TRANSLATORS: "${header[@]}" \
  --force-po --sort-by-file -o "$pot" "${sources[@]}" 2> >(quiet)
xgettext --join-existing --language=Desktop "${header[@]}" --sort-by-file -o "$pot" \
  data/org.example.Mp3Tavoly.desktop 2> >(quiet)
xgettext --join-existing --its=/usr/share/gettext/its/metainfo.its "${header[@]}" --sort-by-file -o "$pot" \
  data/org.example.Mp3Tavoly.metainfo.xml.in 2> >(quiet)
# Made afresh, as the programs' template is: po4a keeps an old header.
rm -f po/man/mp3tavoly-man.pot
po4a-updatepo -f man -M UTF-8 -m data/mp3tavoly.1 -m cli/mp3tavoly-rename.1 \
  -p po/man/mp3tavoly-man.pot --package-name mp3tavoly --package-version "$version" \
  --msgid-bugs-address help@example.org --copyright-holder "The Mp3 Tavoly developers" 2>&1 \
  | grep -v -e "is deprecated" -e "should not contain the" || true
for lang in $(grep -v '^#' po/LINGUAS); do
  for pair in "po/$lang.po:$pot" "po/man/$lang.po:po/man/mp3tavoly-man.pot"; do
    po=${pair%%:*} template=${pair#*:}
    if [ -f "$po" ]; then
      msgmerge --quiet --update --backup=none "$po" "$template" 2> >(quiet)
    else
      msginit --no-translator --locale="$lang" --input="$template" --output-file="$po"
    fi
  done
done
