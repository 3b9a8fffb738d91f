#!/usr/bin/env bash
# The bash completion script as bash runs it: compgen over what sonvex-cli completes.
#   completion.sh SONVEX_CLI COMPLETION_SCRIPT
set -euo pipefail
cli=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export XDG_CONFIG_HOME=$work/config HOME=$work
fail() { echo "completion: $*" >&2; exit 1; }
# bash-completion's compopt is a builtin; the script only needs `complete` and compgen.
source "$2"
complete -p sonvex-cli >/dev/null || fail "the script registers nothing"
ask() {  # the words after the program's name; prints COMPREPLY, one a line
  COMP_WORDS=("$cli" "$@")
  COMP_CWORD=$#
  COMPREPLY=()
  _sonvex_cli
  printf '%s\n' "${COMPREPLY[@]}"
}
expect() {  # expected words, then "--", then the typed words
  local want=() got
  while [ "$1" != "--" ]; do want+=("$1"); shift; done
  shift
  got=$(ask "$@" | sort | tr '\n' ' ')
  [ "$got" = "$(printf '%s\n' "${want[@]}" | sort | tr '\n' ' ')" ] ||
    fail "\"$*\" completed to \"$got\", not \"${want[*]}\""
}
"$cli" create Lobby && "$cli" create Library && "$cli" create Music
"$cli" zone create Hall
expect show status set serve schedule sdp stop stream -- s
expect zone -- zo
expect add-dest add-file announce -- a
expect create -- zone cr
expect Lobby Library -- show L
expect Music -- play --zone Hall M
expect Hall -- play Music --zone H
expect All -- announce "hi" --zone A
expect --json -- list --j
expect --ttl -- add-dest Lobby 239.1.1.1 5004 --tt
expect Lobby Library -- schedule add L
expect -- remove-dest Lobby 1 ""
[ "$(ask add-file Lobby /tm)" = "" ] || fail "a file's name is not left to the shell"
[ "$("$cli" complete -- add-file Lobby /tm)" = ":files" ] || fail "add-file's files are not files"
[ "$("$cli" complete -- convert song.mp3 "")" = ":files" ] || fail "convert takes more files"
# Not in the help.
"$cli" --help | grep -q complete && fail "complete is in the help"
echo "completion: passed"
