#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Checks the catalogues: each compiles (msgfmt --check), is complete (no text
# untranslated or fuzzy, none of the sources' texts missing), and keeps what
# the program relies on in every text: its printf placeholders, its line
# breaks (a help text of many lines may reflow), and its leading and trailing
# blanks.
set -eu
cd "$(dirname "$0")/.."
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
status=0

# The texts in the sources now, as update-pot.sh extracts them.
mapfile -t sources < <(git ls-files '*.cpp' '*.h' | grep -v -E '^(tests|bench)/')
# The texts keep the program's "\r\n" line breaks, which xgettext warns about.
quiet() { grep -v "should not contain the '\\\\r' escape sequence" >&2 || true; }
xgettext --from-code=UTF-8 --language=C++ --keyword=Tr --keyword=TrN:1,2 --keyword=TrUi --keyword=N_ \
  --force-po -o "$tmp/now.pot" "${sources[@]}" 2> >(quiet)
xgettext --join-existing --language=Desktop -o "$tmp/now.pot" data/org.example.Mp3Tavoly.desktop 2> >(quiet)
xgettext --join-existing --its=/usr/share/gettext/its/metainfo.its -o "$tmp/now.pot" \
  data/org.example.Mp3Tavoly.metainfo.xml.in 2> >(quiet)
po4a-updatepo -f man -M UTF-8 -m data/mp3tavoly.1 -m cli/mp3tavoly-rename.1 \
  -p "$tmp/man.pot" >/dev/null 2>&1

for lang in $(grep -v '^#' po/LINGUAS); do
  for pair in "po/$lang.po:$tmp/now.pot" "po/man/$lang.po:$tmp/man.pot"; do
    po=${pair%%:*} template=${pair#*:}
    if ! stats=$(LC_ALL=C msgfmt --check --statistics -o /dev/null "$po" 2>&1); then
      echo "$po: does not compile: $stats"; status=1; continue
    fi
    case $stats in
      *untranslated*|*fuzzy*) echo "$po: incomplete: $stats"; status=1 ;;
    esac
    if ! msgcmp "$po" "$template" 2>"$tmp/cmp"; then
      echo "$po: lacks texts of the sources:"; head -20 "$tmp/cmp"; status=1
    fi
  done
  python3 - "po/$lang.po" <<'PY' || status=1
import re, sys

def entries(path):
    """(msgid, [msgstr...], msgid_plural, line, flags) of each entry."""
    entry, key, out = {}, None, []
    def flush():
        if entry.get('msgid'):
            out.append((entry['msgid'], [v for k, v in sorted(entry.items()) if k.startswith('msgstr')],
                        entry.get('msgid_plural'), entry['line'], entry.get('flags', '')))
    for number, line in enumerate(open(path, encoding='utf-8'), 1):
        line = line.strip()
        if line.startswith('#,'):
            entry['flags'] = entry.get('flags', '') + line[2:]
            continue
        if not line or line.startswith('#'):
            if entry and not line:
                flush(); entry = {}
            continue
        m = re.match(r'(msgid_plural|msgid|msgstr(?:\[\d+\])?) "(.*)"$', line)
        if m:
            key = m.group(1)
            entry.setdefault('line', number)
            entry[key] = m.group(2)
        elif line.startswith('"'):
            entry[key] += line[1:-1]
    flush()
    return out

placeholder = re.compile(r'%(?:%|(?:\d+\$)?[-+ #0]*\d*(?:\.\d+)?(?:hh|h|ll|l|z|j|t|L)?[diouxXeEfgGcsp])')

def placeholders(text):
    """The placeholders of text, "%2$s" counted as "%s" (msgfmt checks the order)."""
    return sorted(re.sub(r'^%\d+\$', '%', p) for p in placeholder.findall(text))
bad = 0
for msgid, strs, plural, line, flags in entries(sys.argv[1]):
    # A text that is no format ("70% of") has no placeholders to keep.
    formatted = 'no-c-format' not in flags
    for s in strs:
        if not s:
            continue
        # Every form of a plural names its count as the English plural does.
        source = plural if plural is not None else msgid
        checks = [
            ('placeholders', placeholders(source) if formatted else [],
             placeholders(s) if formatted else []),
            ('line breaks', msgid.count('\\r\\n'), s.count('\\r\\n')),
            # A help text of many lines may take more or fewer of them.
            ('newlines', msgid.count('\\n') if msgid.count('\\n') <= 1 else 'any',
             s.count('\\n') if msgid.count('\\n') <= 1 else 'any'),
            ('leading blanks', len(msgid) - len(msgid.lstrip(' ')), len(s) - len(s.lstrip(' '))),
            ('trailing blanks', len(msgid) - len(msgid.rstrip(' ')), len(s) - len(s.rstrip(' '))),
        ]
        for what, want, got in checks:
            if want != got:
                print(f'{sys.argv[1]}:{line}: {what} differ: "{msgid}" -> "{s}"')
                bad = 1
sys.exit(bad)
PY
done
exit $status
