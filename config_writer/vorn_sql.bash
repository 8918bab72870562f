# bash completion for vorn_sql                             -*- shell-script -*-
# Offers the options, "yes" and "no" after -e/--encrypt-flag, file names after
# -s/--secret and nothing after the options whose value is free text (a host,
# port, database, user or password). The short -h is left out: alone it is an
# error, as it needs a value; --help is offered instead.

_vorn_sql()
{
    local cur=${COMP_WORDS[COMP_CWORD]} prev= opt
    local long='--help --hostname --encrypt-flag --username --password --dbname --portno --secret'
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
            if [[ $name == "$opt" ]]; then
                match=$name
                break
            fi
            [[ $name == "$opt"* ]] && match+=" $name"
        done
        [[ $match == " "* && $match == *" "*" "* ]] && match=
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
        -[hHupdP] | --hostname | --username | --password | --dbname | --portno)
            return
            ;;
    esac

    [[ -z $cur || $cur == -* ]] &&
        COMPREPLY=($(compgen -W "-H -e -u -p -d -P -s $long" -- "$cur"))
} &&
    complete -F _vorn_sql vorn_sql

# ex: filetype=sh
