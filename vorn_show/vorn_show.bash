# bash completion for vorn_show                            -*- shell-script -*-
# Offers the options to a word that starts with "-", and file names otherwise:
# for the file and for the key file after -k/--key-file.

_vorn_show()
{
    local cur=${COMP_WORDS[COMP_CWORD]} prev=
    COMPREPLY=()
    ((COMP_CWORD > 0)) && prev=${COMP_WORDS[COMP_CWORD - 1]}
    # "--key-file=/e" arrives as "--key-file", "=" and "/e" when '=' breaks
    # words (bash's default); without it, as one word.
    if [[ $cur == = ]]; then
        cur=
    elif [[ $cur == --*=* ]]; then
        cur=${cur#*=}
    elif [[ $cur == -* && $prev != -k ]]; then
        COMPREPLY=($(compgen -W '-r -q -k --reveal --quiet --key-file --help' -- "$cur"))
        return
    fi
    compopt -o filenames 2>/dev/null
    local IFS=$'\n'
    COMPREPLY=($(compgen -f -- "$cur"))
} &&
    complete -F _vorn_show vorn_show

# ex: filetype=sh
