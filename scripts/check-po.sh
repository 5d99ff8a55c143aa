#!/usr/bin/env bash
# Checks the catalogues: each compiles (msgfmt --check), is complete (no text
# untranslated or fuzzy, none of the sources' texts missing), and keeps what
# the program relies on in every text: its printf placeholders, its line
# breaks, and its leading and trailing blanks.
set -eu
cd "$(dirname "$0")/.."
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
status=0

# The texts in the sources now, as update-pot.sh extracts them.
mapfile -t sources < <(git ls-files '*.cpp' '*.h' | grep -v -E '^(tests|bench)/')
xgettext --from-code=UTF-8 --language=C++ --keyword=Tr --keyword=TrN:1,2 --keyword=N_ \
  --force-po -o "$tmp/now.pot" "${sources[@]}"
xgettext --join-existing --language=Desktop -o "$tmp/now.pot" data/org.example.Mp3Tavoly.desktop
xgettext --join-existing --its=/usr/share/gettext/its/metainfo.its -o "$tmp/now.pot" \
  data/org.example.Mp3Tavoly.metainfo.xml.in
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
    """(msgid, [msgstr...], line) of each entry with a translation."""
    entry, key, out = {}, None, []
    def flush():
        if entry.get('msgid'):
            out.append((entry['msgid'], [v for k, v in sorted(entry.items()) if k.startswith('msgstr')],
                        entry.get('msgid_plural'), entry['line']))
    for number, line in enumerate(open(path, encoding='utf-8'), 1):
        line = line.strip()
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

placeholder = re.compile(r'%(?:%|[-+ #0]*\d*(?:\.\d+)?(?:hh|h|ll|l|z|j|t|L)?[diouxXeEfgGcsp])')
bad = 0
for msgid, strs, plural, line in entries(sys.argv[1]):
    for s in strs:
        if not s:
            continue
        # Every form of a plural names its count as the English plural does.
        source = plural if plural is not None else msgid
        checks = [
            ('placeholders', sorted(placeholder.findall(source)), sorted(placeholder.findall(s))),
            ('line breaks', msgid.count('\\r\\n'), s.count('\\r\\n')),
            ('newlines', msgid.count('\\n'), s.count('\\n')),
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
