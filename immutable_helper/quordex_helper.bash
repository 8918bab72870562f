# bash completion for quordex_helper                       -*- shell-script -*-
# quordex_helper <path> <1|0>: a file name first, then 1 (lock) or 0 (unlock).

_quordex_helper()
{
    local cur=${COMP_WORDS[COMP_CWORD]}
    COMPREPLY=()
    case $COMP_CWORD in
    1)
        compopt -o filenames 2>/dev/null
        local IFS=$'\n'
        COMPREPLY=($(compgen -f -- "$cur"))
        ;;
    2)
        COMPREPLY=($(compgen -W '1 0' -- "$cur"))
        ;;
    esac
} &&
    complete -F _quordex_helper quordex_helper

# ex: filetype=sh
