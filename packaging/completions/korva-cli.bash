# bash completion for korva-cli                          -*- shell-script -*-

_korva_cli()
{
    local cur prev words cword
    _init_completion || return

    local command="" i
    for ((i = 1; i < cword; i++)); do
        case ${words[i]} in
        repair | inspect)
            command=${words[i]}
            break
            ;;
        esac
    done

    case $command in
    "")
        if [[ $cur == -* ]]; then
            COMPREPLY=($(compgen -W '--help --version' -- "$cur"))
        else
            COMPREPLY=($(compgen -W 'repair inspect' -- "$cur"))
        fi
        ;;
    repair)
        case $prev in
        --dest)
            _filedir -d
            return
            ;;
        --rate)
            COMPREPLY=($(compgen -W '44100 48000 88200 96000 128000' -- "$cur"))
            return
            ;;
        --bits)
            COMPREPLY=($(compgen -W '16 24' -- "$cur"))
            return
            ;;
        esac
        if [[ $cur == -* ]]; then
            COMPREPLY=($(compgen -W '--help --dest --rate --bits --yes --no --trace' -- "$cur"))
        else
            # Only .wav files are taken, in any letter case.
            _filedir '[wW][aA][vV]'
        fi
        ;;
    inspect)
        if [[ $cur == -* ]]; then
            COMPREPLY=($(compgen -W '--help --json' -- "$cur"))
        else
            _filedir
        fi
        ;;
    esac
} &&
    complete -F _korva_cli korva-cli

# ex: filetype=sh
