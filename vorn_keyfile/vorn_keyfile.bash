# bash completion for vorn_keyfile                         -*- shell-script -*-
# Offers the options to a word that starts with "-", nothing after -k/--key
# (the key is typed or pasted), and file names for the key file's path, after
# --key-file, and for the files of --rotate.

_vorn_keyfile()
{
    local cur=${COMP_WORDS[COMP_CWORD]} prev= before=
    COMPREPLY=()
    ((COMP_CWORD > 0)) && prev=${COMP_WORDS[COMP_CWORD - 1]}
    ((COMP_CWORD > 1)) && before=${COMP_WORDS[COMP_CWORD - 2]}
    # "--key=..." arrives as "--key", "=" and the digits when '=' breaks words;
    # "--key-file=..." likewise, and takes a file name.
    case $prev/$before/$cur in
        --key-f/*/* | --key-fi/*/* | --key-fil/*/* | --key-file/*/* | =/--key-f*/*) [[ $cur == = ]] && cur= ;;
        */*/--key-f*=*) cur=${cur#*=} ;;
        -k/* | --k/* | --ke/* | --key/* | =/--k*/* | */*/--k*=* | */*/=) return ;;
        *) if [[ $cur == -* ]]; then
            COMPREPLY=($(compgen -W '-k --key --key-stdin --print-key --check --rotate --key-file --help' -- "$cur"))
            return
        fi ;;
    esac
    compopt -o filenames 2>/dev/null
    local IFS=$'\n'
    COMPREPLY=($(compgen -f -- "$cur"))
} &&
    complete -F _vorn_keyfile vorn_keyfile

# ex: filetype=sh
