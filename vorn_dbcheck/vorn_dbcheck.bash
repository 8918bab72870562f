# bash completion for vorn_dbcheck                         -*- shell-script -*-
# Offers the options, file names after -k/--key-file and -S/--socket and as the
# configuration file, and nothing after -t/--timeout (a number of seconds);
# --allow-cleartext takes no value.

_vorn_dbcheck()
{
    local cur=${COMP_WORDS[COMP_CWORD]} prev= opt
    local long='--key-file --socket --timeout --allow-cleartext --help'
    COMPREPLY=()
    ((COMP_CWORD > 0)) && prev=${COMP_WORDS[COMP_CWORD - 1]}

    # With '=' among the word breaks (bash's default), "--socket=/r" arrives as
    # the three words "--socket", "=" and "/r"; without it, as one word.
    if [[ $cur == = ]]; then
        opt=$prev cur=
    elif [[ $prev == = ]] && ((COMP_CWORD > 1)); then
        opt=${COMP_WORDS[COMP_CWORD - 2]}
    elif [[ $cur == --*=* ]]; then
        opt=${cur%%=*} cur=${cur#*=}
    else
        opt=$prev
    fi

    # A long option may be given as any unambiguous prefix of its name.
    if [[ $opt == --?* ]]; then
        local name match=
        for name in $long; do
            [[ $name == "$opt"* ]] && match+=" $name"
        done
        [[ $match == *" "*" "* ]] && match=
        opt=${match# }
    fi

    case $opt in
        -t | --timeout)
            return
            ;;
    esac
    if [[ $opt == @(-k|-S|--key-file|--socket) || $cur != -* ]]; then
        compopt -o filenames 2>/dev/null
        local IFS=$'\n'
        COMPREPLY=($(compgen -f -- "$cur"))
        return
    fi
    COMPREPLY=($(compgen -W "-k -S -t -h $long" -- "$cur"))
} &&
    complete -F _vorn_dbcheck vorn_dbcheck

# ex: filetype=sh
