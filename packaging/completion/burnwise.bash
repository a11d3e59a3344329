# bash completion for burnwise, burnwise-cli, vqbench, dl2mgr, dl2mgr-cli and dahlo2-sim.
# Installed once and linked under each program's name, where bash-completion looks for it.
# The commands and options of the command-line programs come from their own --help, so
# the completion knows every option the installed program has.

# Commands and options listed in the help of "$@" (a program and its command path).
_burnwise_help_words() {
    "$@" --help 2>/dev/null | awk '
        /^[A-Za-z][A-Za-z ]*:[[:space:]]*$/ { section = tolower($0); next }
        section ~ /^subcommands/ && /^  [a-z]/ { print $1; next }
        /^ +-/ {
            n = split($1, names, ",")
            for (i = 1; i <= n; i++) if (names[i] ~ /^-/) print names[i]
        }'
}

# Files with one of the extensions given as "ept" or "bin|txt" (and folders to walk
# into); any file for "".
_burnwise_files() {
    if declare -F _filedir >/dev/null; then
        _filedir "$1"
    else
        local IFS=$'\n'
        if [[ -n $1 ]]; then
            COMPREPLY=($(shopt -s extglob; compgen -f -X "!*.@($1)" -- "$cur") $(compgen -d -- "$cur"))
        else
            COMPREPLY=($(compgen -f -- "$cur"))
        fi
    fi
}

# Device indexes of the simulated bench, from the first column of "vqbench list".
_burnwise_device_indexes() {
    local vqbench=vqbench
    command -v vqbench >/dev/null || vqbench=$(dirname "$(command -v burnwise-cli 2>/dev/null || echo .)")/vqbench
    COMPREPLY=($(compgen -W "$("$vqbench" list 2>/dev/null | awk '{ print $1 }')" -- "$cur"))
}

_burnwise_cli() {
    local cur prev words cword
    if declare -F _init_completion >/dev/null; then
        _init_completion || return
    else
        cur=${COMP_WORDS[COMP_CWORD]} prev=${COMP_WORDS[COMP_CWORD-1]}
        words=("${COMP_WORDS[@]}") cword=$COMP_CWORD
    fi
    local program=${words[0]}

    case $prev in
        --template) _burnwise_files ept; return ;;
        --log) _burnwise_files csv; return ;;
        --image) _burnwise_files eep; return ;;
        --counter | --device) _burnwise_files ""; return ;;
        --format)
            if [[ " ${words[*]} " == *" history "* ]]; then
                COMPREPLY=($(compgen -W "text csv json" -- "$cur"))
            else
                COMPREPLY=($(compgen -W "words dump bin" -- "$cur"))
            fi
            return ;;
        --db) _burnwise_files sqlite; return ;;
        --label | --layout) _burnwise_files svg; return ;;
        --label-dir) COMPREPLY=($(compgen -d -- "$cur")); return ;;
        --printer) COMPREPLY=($(compgen -W "$(lpstat -e 2>/dev/null)" -- "$cur")); return ;;
        --result) COMPREPLY=($(compgen -W "PASS FAIL" -- "$cur")); return ;;
        --eeprom) COMPREPLY=($(compgen -W "93C46 93C56 93C66 Unknown" -- "$cur")); return ;;
        --model) COMPREPLY=($(compgen -W "KR1S KR1F KR2S KR2F KR3D KR3E KR4S KR4F" -- "$cur")); return ;;
        --mode) COMPREPLY=($(compgen -W "0 1" -- "$cur")); return ;;
        --port | --com) COMPREPLY=($(compgen -W "$(seq 1 14)" -- "$cur")); return ;;
        --station | --serial | --since | --until | --limit | --utc | --selectors | --type-code | --device-number | --revision | --pot | --pb | \
            --short-dump | --silent-after) return ;;
    esac

    # The command path so far: the words before this one that are commands of the one before.
    local path=("$program") i known
    for ((i = 1; i < cword; i++)); do
        [[ ${words[i]} == -* ]] && continue
        known=$(_burnwise_help_words "${path[@]}")
        if grep -qx -- "${words[i]}" <<<"$known"; then
            path+=("${words[i]}")
        fi
    done
    local command=${path[*]:1}

    if [[ $cur != -* ]]; then
        case ${program##*/}:$command in
            burnwise-cli:"template new" | burnwise-cli:"template show" | \
                burnwise-cli:"template check")
                _burnwise_files ept; return ;;
            burnwise-cli:decode | burnwise-cli:dump) _burnwise_files 'bin|txt'; return ;;
            burnwise-cli:encode) _burnwise_files ""; return ;;
            dl2mgr-cli:read | dl2mgr-cli:write | dl2mgr-cli:show) _burnwise_files eep; return ;;
            dl2mgr-cli:test) COMPREPLY=($(compgen -W "1 2 3 4 5 6" -- "$cur")); return ;;
        esac
    fi
    COMPREPLY=($(compgen -W "$(_burnwise_help_words "${path[@]}" | grep -vx -- -h)" -- "$cur"))
}

_vqbench() {
    local cur prev words cword
    if declare -F _init_completion >/dev/null; then
        _init_completion || return
    else
        cur=${COMP_WORDS[COMP_CWORD]} prev=${COMP_WORDS[COMP_CWORD-1]}
        words=("${COMP_WORDS[@]}") cword=$COMP_CWORD
    fi
    local faults="open info read write erase cycle latency ignore-writes"
    case $prev in
        --eeprom) COMPREPLY=($(compgen -W "93C46 93C56 93C66 none" -- "$cur")); return ;;
        --word | --status | --times) return ;;
    esac
    if ((cword == 1)); then
        COMPREPLY=($(compgen -W "list add remove reset dump load fault --help --version" -- "$cur"))
        return
    fi
    case ${words[1]}:$cword in
        add:2) COMPREPLY=($(compgen -W "KR1S KR1F KR2S KR2F KR3D KR3E KR4S KR4F" -- "$cur")) ;;
        add:3) COMPREPLY=($(compgen -W "--eeprom" -- "$cur")) ;;
        reset:2) COMPREPLY=($(compgen -W "--default" -- "$cur")) ;;
        remove:2 | dump:2 | load:2 | fault:2) _burnwise_device_indexes ;;
        load:3) _burnwise_files bin ;;
        fault:3) COMPREPLY=($(compgen -W "$faults clear" -- "$cur")) ;;
        fault:*)
            [[ ${words[3]} == clear ]] ||
                COMPREPLY=($(compgen -W "--word --status --times" -- "$cur")) ;;
    esac
}

# The windows take one file of their own kind.
_burnwise_window() {
    local cur=${COMP_WORDS[COMP_CWORD]}
    if [[ $cur == -* ]]; then
        COMPREPLY=($(compgen -W "--help --version" -- "$cur"))
    elif ((COMP_CWORD == 1)); then
        case ${COMP_WORDS[0]##*/} in
            burnwise) _burnwise_files ept ;;
            dl2mgr) _burnwise_files eep ;;
        esac
    fi
}

complete -F _burnwise_cli burnwise-cli dl2mgr-cli dahlo2-sim
complete -F _vqbench vqbench
complete -F _burnwise_window burnwise dl2mgr
