# bash completion for vorn_set                             -*- shell-script -*-
# Offers the options, "yes" and "no" after -e/--encrypt-flag and file names
# after -s/--secret. The values themselves come on standard input.

_vorn_set()
{
    local cur=${COMP_WORDS[COMP_CWORD]} prev= opt
    local long='--secret --encrypt-flag --accept-defaults --print --help'
    COMPREPLY=()
    ((COMP_CWORD > 0)) && prev=${COMP_WORDS[COMP_CWORD - 1]}

    # With '=' among the word breaks (bash's default), "--secret=/e" arrives as
    # the three words "--secret", "=" and "/e"; without it, as one word.
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
        -e | --encrypt-flag)
            COMPREPLY=($(compgen -W 'yes no' -- "$cur"))
            return
            ;;
        -s | --secret)
            compopt -o filenames 2>/dev/null
            local IFS=$'\n'
            COMPREPLY=($(compgen -f -- "$cur"))
            return
            ;;
    esac

    [[ -z $cur || $cur == -* ]] &&
        COMPREPLY=($(compgen -W "-s -e -y -n -h $long" -- "$cur"))
} &&
    complete -F _vorn_set vorn_set

# ex: filetype=sh
