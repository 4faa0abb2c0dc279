#!/usr/bin/env bash
# Checks Help.pdf, the user's guide, as a reader's tools see it: a valid PDF
# of more than four pages with its contents, every font embedded, every row of
# the table of what can go wrong in its text (as kestrava-cli explain prints
# the table), and every page rendered.
#
#   check_help_pdf.sh <Help.pdf> <kestrava-cli>
set -uo pipefail
pdf=${1:?usage: check_help_pdf.sh <Help.pdf> <kestrava-cli>}
cli=${2:?usage: check_help_pdf.sh <Help.pdf> <kestrava-cli>}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*"; exit 1; }
for tool in pdfinfo pdffonts pdftotext pdftoppm; do
    command -v "$tool" >/dev/null || fail "$tool is not installed (run scripts/install-deps.sh)"
done

# 1. Valid, with its pages.
pdfinfo "$pdf" >"$work/info" 2>&1 || fail "pdfinfo: $(cat "$work/info")"
pages=$(sed -n 's/^Pages: *//p' "$work/info")
[ "${pages:-0}" -gt 4 ] || fail "$pages pages: the guide should be longer than four"
echo "pages: $pages"

# 2. Every font embedded.
pdffonts "$pdf" >"$work/fonts" 2>&1 || fail "pdffonts: $(cat "$work/fonts")"
fonts=$(tail -n +3 "$work/fonts" | wc -l)
[ "$fonts" -gt 0 ] || fail "no fonts"
not_embedded=$(tail -n +3 "$work/fonts" | awk '$(NF-4) != "yes"')
[ -z "$not_embedded" ] || fail "fonts not embedded: $not_embedded"
echo "fonts: $fonts, all embedded"

# 3. The text holds the contents and every row of the table, as the program has it.
# White space is evened out and hyphens dropped: the layout breaks lines where
# it likes, and pdftotext joins a word broken at its hyphen without it.
flat() { tr -d -- '-' | tr -s '[:space:]' ' '; }
pdftotext -enc UTF-8 "$pdf" - | flat >"$work/text" || fail "pdftotext failed"
pdftotext -raw -enc UTF-8 "$pdf" - | flat >"$work/raw"
grep -qF "Contents" "$work/text" || fail "no table of contents"
"$cli" explain >"$work/table" || fail "kestrava-cli explain failed"
rows=0
missing=0
while IFS= read -r line; do
    case "$line" in
        "") continue ;;
        "  "*) text=$(sed -E 's/^ +([A-Za-z ]+: +)?//' <<<"$line") ;;
        *) text=$line; rows=$((rows + 1)) ;;
    esac
    text=$(flat <<<"$text" | sed 's/ $//')
    if ! grep -qF -- "$text" "$work/text" && ! grep -qF -- "$text" "$work/raw"; then
        echo "not in the guide: $text"
        missing=$((missing + 1))
    fi
done <"$work/table"
[ "$rows" -gt 30 ] || fail "kestrava-cli explain gave only $rows rows"
[ "$missing" -eq 0 ] || fail "$missing texts of the table are not in the guide"
echo "table: all $rows rows in the text"

# 4. Every page renders.
pdftoppm -r 30 -png "$pdf" "$work/page" 2>"$work/render" || fail "pdftoppm: $(cat "$work/render")"
rendered=$(find "$work" -name 'page-*.png' -size +1k | wc -l)
[ "$rendered" -eq "$pages" ] || fail "$rendered of $pages pages rendered"
echo "PASS: Help.pdf: $pages pages, fonts embedded, the table in its text, every page rendered"
