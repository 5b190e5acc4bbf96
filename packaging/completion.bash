# bash completion for the dmxkit programs: cuetrig, dmxscope, framelog,
# linecast, rampgen and showrun. Installed once under each program's name, so
# that bash-completion loads it for whichever is completed first.

# Recordings first: the CSV files and the folders that may hold them; any
# file when none matches.
_dmxkit_csv_files()
{
    local IFS=$'\n'
    COMPREPLY=($(compgen -f -X '!*.[cC][sS][vV]' -- "$1") $(compgen -d -- "$1"))
    if [ ${#COMPREPLY[@]} -eq 0 ]; then
        COMPREPLY=($(compgen -f -- "$1"))
    fi
    compopt -o filenames 2>/dev/null
}

# The options of each program, and those of them that take an argument.
_dmxkit_options()
{
    case $1 in
    cuetrig) options='-u -c -p -t -v -N -E -I -h' arguments='ucptI' ;;
    dmxscope) options='-u -p -a -n -N -E -I -h' arguments='upI' ;;
    framelog) options='-f -u -p -m -a -N -U -E -I -h' arguments='fupmI' ;;
    linecast) options='-u -c -t -p -v -k -S -E -P -I -h' arguments='uctpkPI' ;;
    rampgen) options='-t -p -i -c -a -u -v -s -S -E -P -I' arguments='tpicuPI' ;;
    showrun) options='-f -u -p -t -d -l -s -k -U -S -E -P -I -h' arguments='fuptlskPI' ;;
    esac
    options="$options --help --version"
}

_dmxkit()
{
    local program=${1##*/} cur=${COMP_WORDS[COMP_CWORD]}
    local options arguments
    _dmxkit_options "$program"
    COMPREPLY=()

    # Walk the words before the cursor as getopt would: options stop at the
    # first word that is not one, or after "--". `wanted` is the option whose
    # argument the cursor is on; `command` counts cuetrig's command words;
    # `port` is the default port, sACN's once -E was given.
    local i word letters wanted='' in_options=1 command=-1 port=6454
    for ((i = 1; i < COMP_CWORD; i++)); do
        word=${COMP_WORDS[i]}
        if [ -n "$wanted" ]; then
            wanted=''
            continue
        fi
        if [ $in_options -eq 1 ]; then
            case $word in
            --) in_options=0 command=0; continue ;;
            --high | --low) in_options=0 command=0; continue ;;
            --*) continue ;;
            -?*)
                letters=${word#-}
                while [ -n "$letters" ]; do
                    [ "${letters:0:1}" = E ] && port=5568
                    if [[ $arguments == *"${letters:0:1}"* ]]; then
                        [ ${#letters} -eq 1 ] && wanted=${letters:0:1}
                        break
                    fi
                    letters=${letters:1}
                done
                continue
                ;;
            esac
            in_options=0 command=0
        fi
        case $word in
        --high | --low | --) command=0 ;;
        *) command=$((command + 1)) ;;
        esac
    done

    if [ -n "$wanted" ]; then
        case $program:$wanted in
        *:f) _dmxkit_csv_files "$cur" ;;
        *:p) COMPREPLY=($(compgen -W "$port" -- "$cur")) ;;
        cuetrig:t) COMPREPLY=($(compgen -W 'high low nz' -- "$cur")) ;;
        esac
        return 0
    fi
    if [ $in_options -eq 1 ]; then
        if [ "$program" = showrun ] && [ "${COMP_WORDS[COMP_CWORD - 1]}" = -d ] && [[ $cur != -* ]]; then
            _dmxkit_csv_files "$cur"
        elif [ "$program" = cuetrig ] && [[ $cur == --* ]]; then
            COMPREPLY=($(compgen -W '--high --low --help --version --' -- "$cur"))
        elif [ "$program" = cuetrig ] && [ -n "$cur" ] && [[ $cur != -* ]]; then
            COMPREPLY=($(compgen -c -- "$cur"))
        else
            COMPREPLY=($(compgen -W "$options" -- "$cur"))
        fi
        return 0
    fi
    # Only cuetrig reads words after its options: commands to run.
    [ "$program" = cuetrig ] || return 0
    if [[ $cur == --* ]]; then
        COMPREPLY=($(compgen -W '--high --low' -- "$cur"))
    elif [ $command -eq 0 ]; then
        COMPREPLY=($(compgen -c -- "$cur"))
    else
        compopt -o default 2>/dev/null
    fi
    return 0
}

complete -F _dmxkit cuetrig dmxscope framelog linecast rampgen showrun
