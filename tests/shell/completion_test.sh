#!/usr/bin/env bash
# Drives the bash completion function as bash itself would: the words of a
# command line and the cursor's word, then what COMPREPLY offers.
set -u
export LC_ALL=C # a sort order that does not depend on the machine
source "$1"
cd "$(mktemp -d)" || exit 1
trap 'rm -rf "$PWD"' EXIT
touch show.csv notes.txt
mkdir shows
failures=0

# expect "<command line, cursor at its end>" "<offers, sorted, space-separated>"
expect() {
    local line=$1 wanted=$2
    read -r -a COMP_WORDS <<<"$line"
    [[ $line == *" " ]] && COMP_WORDS+=("")
    COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
    COMPREPLY=()
    _dmxkit "${COMP_WORDS[0]}"
    local got
    got=$(printf '%s\n' "${COMPREPLY[@]}" | sed '/^$/d' | sort -u | tr '\n' ' ')
    got=${got% }
    if [ "$got" != "$wanted" ]; then
        echo "FAIL: '$line' offered '$got', expected '$wanted'"
        failures=$((failures + 1))
    fi
}

expect "rampgen -" "--help --version -E -I -P -S -a -c -i -p -s -t -u -v"
expect "showrun -f show.csv -s " ""
expect "showrun -l 2 -k 200 -" "--help --version -E -I -P -S -U -d -f -h -k -l -p -s -t -u"
expect "rampgen -p " "6454"
expect "rampgen -i " ""
expect "rampgen -vu " ""
expect "framelog -f " "show.csv shows"
expect "framelog -f n" "notes.txt"
expect "framelog -u 1 -f s" "show.csv shows"
expect "framelog -ff" ""
expect "showrun -d " "show.csv shows"
expect "showrun -p 7000 --v" "--version"
expect "cuetrig -t " "high low nz"
expect "cuetrig -vt h" "high"
expect "cuetrig -u 1 -c 1 --h" "--help --high"
expect "cuetrig -u 1 -c 1 --high ech" "$(compgen -c -- ech | sort -u | tr '\n' ' ' | sed 's/ $//')"
expect "cuetrig -u 1 -c 1 -t high -- echo --l" "--low"
expect "dmxscope -n -a " "--help --version -E -I -N -a -h -n -p -u"
expect "framelog -aE -p " "5568"
exit $((failures > 0))
