# bash completion for pathlume-cli                        -*- shell-script -*-
#
# The tables follow `pathlume-cli --help`: a new command, option, format or
# key is one entry here (and one in pathlume-cli(1)). DEVICE is never
# completed: that would need a broadcast on the network at every Tab.

_pathlume_cli_commands="find get set save load history restore diff apply help"
# Options that every command takes.
_pathlume_cli_common_options="--timeout --interface --quiet --help --version"
# Options that follow with a value of their own (the test-only ones too, so
# that their value is not taken for a command).
_pathlume_cli_valued_options="--timeout --format --entry --match --interface --send-to --listen"
_pathlume_cli_keys="HOST_NAME ENET_SPD DHCP IP SUBNET_MASK GATEWAY PRNT_PORT PRNT_RCV_TMO"
# The Find fields that apply's --match names.
_pathlume_cli_match_keys="SERIAL_NUM MAC DEV VER IP_CUR HOST_NAME"

# Options of one command only.
_pathlume_cli_command_options()
{
    case $1 in
        find | get) echo "--format" ;;
        set) echo "--format --dry-run" ;;
        load) echo "--format --dry-run --with-identity" ;;
        history) echo "--format" ;;
        restore) echo "--format --dry-run --entry --force" ;;
        diff) echo "--format" ;;
        apply) echo "--format --dry-run --with-identity --match --all" ;;
        '') echo "--format --dry-run --with-identity --entry --force --match --all" ;;
    esac
}

# --format values of a command.
_pathlume_cli_formats()
{
    case $1 in
        find) echo "table json csv" ;;
        history | diff | apply) echo "table json" ;;
        get | set | load | restore) echo "text json" ;;
        *) echo "table text json csv" ;;
    esac
}

# Values worth offering after KEY= (codes only: the texts hold spaces).
_pathlume_cli_key_values()
{
    case $1 in
        ENET_SPD) echo "0 1 2 3 4" ;;
        DHCP) echo "0 1 Disable Enable" ;;
    esac
}

_pathlume_cli()
{
    # The words as typed, from the line itself: bash splits its own words at
    # '=' and ':', which would cut KEY=VALUE and MAC addresses apart.
    local line=${COMP_LINE:0:COMP_POINT}
    local -a words
    read -ra words <<<"$line"
    local cur=""
    if [[ $line != *[[:space:]] ]]; then
        cur=${words[${#words[@]} - 1]}
        unset 'words[${#words[@]}-1]'
    fi

    # The command, how many arguments it has been given, and an option still
    # waiting for its value.
    local cmd="" args=0 wants="" i word options=1
    for ((i = 1; i < ${#words[@]}; i++)); do
        word=${words[i]}
        if ((!options)); then
            [[ -z $cmd ]] && cmd=$word || ((args++))
        elif [[ $word == -- ]]; then
            options=0
        elif [[ " $_pathlume_cli_valued_options " == *" $word "* ]]; then
            if ((i + 1 < ${#words[@]})); then
                ((i++))
            else
                wants=$word
            fi
        elif [[ $word == -?* ]]; then
            continue
        elif [[ -z $cmd ]]; then
            cmd=$word
        else
            ((args++))
        fi
    done

    local -a reply=()
    local candidates="" prefix="" match=$cur
    # --opt=value: the value is completed as after "--opt ".
    if ((options)) && [[ -z $wants && $cur == --*=* ]] &&
        [[ " $_pathlume_cli_valued_options " == *" ${cur%%=*} "* ]]; then
        wants=${cur%%=*}
        prefix=${cur%%=*}=
        match=${cur#*=}
    fi
    case $wants in
        --format)
            candidates=$(_pathlume_cli_formats "$cmd")
            ;;
        --interface)
            candidates=$(command ls /sys/class/net 2>/dev/null)
            ;;
        --match)
            # KEY= first; a pattern is the user's own.
            [[ $match == *=* ]] && return 0
            local key
            for key in $_pathlume_cli_match_keys; do candidates+=" $key="; done
            compopt -o nospace 2>/dev/null
            ;;
        ?*)
            return 0 # a number or an address: nothing to offer
            ;;
    esac
    if [[ -z $wants ]]; then
        if ((options)) && [[ $cur == -* ]]; then
            candidates="$_pathlume_cli_common_options $(_pathlume_cli_command_options "$cmd")"
        elif [[ -z $cmd ]]; then
            candidates=$_pathlume_cli_commands
        else
            case $cmd:$args in
                help:0) candidates=$_pathlume_cli_commands ;;
                set:0 | get:0 | save:0 | load:0 | history:0 | restore:0) ;; # DEVICE
                set:*)
                    if [[ $cur == *=* ]]; then
                        prefix=${cur%%=*}=
                        match=${cur#*=}
                        candidates=$(_pathlume_cli_key_values "${cur%%=*}")
                    else
                        local key
                        for key in $_pathlume_cli_keys; do candidates+=" $key="; done
                        compopt -o nospace 2>/dev/null
                    fi
                    ;;
                save:1 | load:1 | diff:0 | diff:1 | apply:0)
                    compopt -o filenames 2>/dev/null
                    mapfile -t reply < <(compgen -f -- "$cur")
                    [[ - == "$cur"* ]] && reply+=(-)
                    ;;
            esac
        fi
    fi
    if [[ -n $candidates ]]; then
        mapfile -t reply < <(compgen -P "$prefix" -W "$candidates" -- "$match")
    fi
    # Bash replaces only the part of the word after its last '=' or ':'.
    local cut=${cur%"${cur##*[=:]}"}
    if [[ -n $cut && $COMP_WORDBREAKS == *"${cut: -1}"* ]]; then
        reply=("${reply[@]#"$cut"}")
    fi
    COMPREPLY=("${reply[@]}")
}
complete -F _pathlume_cli pathlume-cli
