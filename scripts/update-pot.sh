#!/usr/bin/env bash
# Extracts the texts people read into the templates, and merges them into
# every language's catalogue (new texts come untranslated, changed ones fuzzy).
# The programs' texts: Tr, TrN and N_ in the sources, the desktop entry, the
# AppStream metadata. The manual pages: po4a.
set -eu
cd "$(dirname "$0")/.."
pot=po/mp3tavoly.pot
mapfile -t sources < <(git ls-files '*.cpp' '*.h' | grep -v -E '^(tests|bench)/')
xgettext --from-code=UTF-8 --language=C++ --keyword=Tr --keyword=TrN:1,2 --keyword=N_ \
  --add-comments=TRANSLATORS: --package-name=mp3tavoly --msgid-bugs-address=help@example.org \
  --force-po --sort-by-file -o "$pot" "${sources[@]}"
xgettext --join-existing --language=Desktop --sort-by-file -o "$pot" data/org.example.Mp3Tavoly.desktop
xgettext --join-existing --its=/usr/share/gettext/its/metainfo.its --sort-by-file -o "$pot" \
  data/org.example.Mp3Tavoly.metainfo.xml.in
po4a-updatepo -f man -M UTF-8 -m data/mp3tavoly.1 -m cli/mp3tavoly-rename.1 \
  -p po/man/mp3tavoly-man.pot --package-name mp3tavoly --msgid-bugs-address help@example.org 2>&1 \
  | grep -v "is deprecated" || true
for lang in $(grep -v '^#' po/LINGUAS); do
  for pair in "po/$lang.po:$pot" "po/man/$lang.po:po/man/mp3tavoly-man.pot"; do
    po=${pair%%:*} template=${pair#*:}
    if [ -f "$po" ]; then
      msgmerge --quiet --update --backup=none "$po" "$template"
    else
      msginit --no-translator --locale="$lang" --input="$template" --output-file="$po"
    fi
  done
done
