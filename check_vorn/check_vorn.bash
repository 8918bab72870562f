# bash completion for check_vorn                           -*- shell-script -*-
# Offers the options; file names after -f/--file, -k/--key-file and
# -S/--socket; the states after "-t SECONDS:"; the checks after -i/--ignore,
# also after a comma; user names after -o/--owner; nothing after the other
# options that take a value (-w, -c, -m, a number of seconds).

_check_vorn()
{
    local cur=${COMP_WORDS[COMP_CWORD]} prev= opt
    local long='--file --warning --critical --timeout --key-file --socket --allow-cleartext --mode --owner
                --ignore --verbose --version --help'
    COMPREPLY=()
    ((COMP_CWORD > 0)) && prev=${COMP_WORDS[COMP_CWORD - 1]}

    # With ':' among the word breaks (bash's default), "-t 10:cr" arrives as
    # "-t", "10", ":" and "cr": the state after the seconds.
    local states='ok warning critical unknown' before=
    ((COMP_CWORD > 2)) && before=${COMP_WORDS[COMP_CWORD - 2]}
    if [[ $cur == : && $before == @(-t|--timeout) ]]; then
        COMPREPLY=($states)
        return
    elif [[ $prev == : ]] && ((COMP_CWORD > 3)) && [[ ${COMP_WORDS[COMP_CWORD - 3]} == @(-t|--timeout) ]]; then
        COMPREPLY=($(compgen -W "$states" -- "$cur"))
        return
    fi

    # With '=' among the word breaks (bash's default), "--file=/e" arrives as
    # the three words "--file", "=" and "/e"; without it, as one word.
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
        -f | -k | -S | --file | --key-file | --socket)
            compopt -o filenames 2>/dev/null
            local IFS=$'\n'
            COMPREPLY=($(compgen -f -- "$cur"))
            return
            ;;
        -t | --timeout)
            # Without ':' among the word breaks, "10:cr" is one word.
            [[ $cur == *:* ]] && COMPREPLY=($(compgen -P "${cur%%:*}:" -W "$states" -- "${cur#*:}"))
            return
            ;;
        -i | --ignore)
            local done=${cur%,*}, last=${cur##*,}
            [[ $cur == *,* ]] || done=
            COMPREPLY=($(compgen -P "$done" -W "lock mode owner" -- "$last"))
            return
            ;;
        -o | --owner)
            COMPREPLY=($(compgen -u -- "$cur"))
            return
            ;;
        -w | -c | -m | --warning | --critical | --mode)
            return
            ;;
    esac
    COMPREPLY=($(compgen -W "-f -w -c -t -k -S -m -o -i -v -V -h $long" -- "$cur"))
} &&
    complete -F _check_vorn check_vorn

# ex: filetype=sh
