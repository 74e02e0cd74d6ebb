#!/usr/bin/env bash
# CliDocumentationTest.sh: what is installed beside tonflux-convert keeps up with the program.
# The options that --help lists (from the program's one table of options) are the ones the man
# page describes and the bash completion offers;
# the man page renders without a warning; the completion offers, in each place, the names the
# program takes there.
#
#   tests/CliDocumentationTest.sh TONFLUX_CONVERT MAN_PAGE COMPLETION WORK_DIR
set -uo pipefail
convert=$1 man=$2 completion=$3 work=$4
failures=0
fail() {
    printf 'FAILED: %s\n' "$*"
    failures=$((failures + 1))
}

warnings=$(groff -man -ww -z "$man" 2>&1) || fail "groff could not render $man"
[[ -z "$warnings" ]] || fail "the man page renders with warnings: $warnings"
page=$(groff -man -Tascii -P-cbou "$man" 2>/dev/null)

# shellcheck source=/dev/null
source "$completion"
complete_words() { # the completions offered after the words given, the last being typed
    COMP_WORDS=(tonflux-convert "$@")
    COMP_CWORD=$#
    COMPREPLY=()
    _tonflux_convert
    ((${#COMPREPLY[@]} == 0)) || printf '%s\n' "${COMPREPLY[@]}" | sort | tr '\n' ' '
}

options=$(LC_ALL=C "$convert" --help | grep -oE -- '(^|[ ,])--?[a-z][a-z-]*' | tr -d ' ,' | sort -u)
[[ $(wc -l <<<"$options") -ge 12 ]] || fail "--help lists too few options: $options"
offered=" $(complete_words -) "
for option in $options; do
    grep -qE -- "(^|[^a-z-])$option([^a-z-]|\$)" <<<"$page" || fail "the man page lacks $option"
    [[ "$offered" == *" $option "* ]] || fail "the completion does not offer $option"
done
# And nothing else: an option dropped from the program is dropped from both.
for option in $offered; do
    [[ $option == -- ]] || grep -qxF -- "$option" <<<"$options" ||
        fail "the completion offers $option, which --help does not list"
done
# The options the man page describes: the tags of OPTIONS, at the tags' indent.
documented=$(sed -n '/^OPTIONS/,/^EXIT STATUS/p' <<<"$page" | grep -E '^ {7}-' |
    grep -oE -- '(^|[ ,])--?[a-z][a-z-]*' | tr -d ' ,' | sort -u)
for option in $documented; do
    grep -qxF -- "$option" <<<"$options" ||
        fail "the man page describes $option, which --help does not list"
done

rm -rf "$work" && mkdir -p "$work/sub" && cd "$work" || exit 1
touch a.mid B.MIDI c.mds d.rmi e.txt
while IFS='|' read -r words expected; do
    # shellcheck disable=SC2086
    got=$(complete_words $words "")
    [[ "$got" == "$expected" ]] || fail "after '$words': offered '$got', expected '$expected'"
done <<'TABLE'
|B.MIDI a.mid c.mds sub 
--lenient|B.MIDI a.mid c.mds d.rmi sub 
-q -k 8|B.MIDI a.mid c.mds sub 
--dump|c.mds sub 
-d|sub 
--output-dir|sub 
-o|B.MIDI a.mid c.mds d.rmi e.txt sub 
-k|
-j|
TABLE

echo "$failures failed"
((failures == 0))
