# bash completion for sonvex-cli: commands, options, playlist and zone names from the store,
# files where a file goes. The program itself says what may come (sonvex-cli complete).
_sonvex_cli() {
    local cur=${COMP_WORDS[COMP_CWORD]}
    local IFS=$'\n'
    local candidates
    candidates=$("${COMP_WORDS[0]}" complete -- "${COMP_WORDS[@]:1:COMP_CWORD}" 2>/dev/null) || return
    if [[ $candidates == ":files" ]]; then
        compopt -o default 2>/dev/null
        COMPREPLY=()
        return
    fi
    COMPREPLY=($(compgen -W "$candidates" -- "$cur"))
}
complete -F _sonvex_cli sonvex-cli
