# bash completion for korva-cli                          -*- shell-script -*-

_korva_cli()
{
    local cur prev words cword
    _init_completion || return

    local command="" i
    for ((i = 1; i < cword; i++)); do
        case ${words[i]} in
        repair | inspect | extract | append | remove-chunk | rescue)
            command=${words[i]}
            break
            ;;
        esac
    done

    case $prev in
    --dest)
        _filedir -d
        return
        ;;
    --rate)
        COMPREPLY=($(compgen -W 'auto 44100 48000 88200 96000 176400 192000' -- "$cur"))
        return
        ;;
    --bits)
        COMPREPLY=($(compgen -W 'auto 8 16 24 32 64' -- "$cur"))
        return
        ;;
    --channels)
        COMPREPLY=($(compgen -W 'auto 1 2 4 6 8' -- "$cur"))
        return
        ;;
    --existing)
        COMPREPLY=($(compgen -W 'ask overwrite skip stop' -- "$cur"))
        return
        ;;
    --from | --to)
        return
        ;;
    esac

    local options
    case $command in
    "")
        if [[ $cur == -* ]]; then
            COMPREPLY=($(compgen -W '--help --version' -- "$cur"))
        else
            COMPREPLY=($(compgen -W 'repair inspect extract append remove-chunk rescue' -- "$cur"))
        fi
        return
        ;;
    repair)
        options='--help --dest --rate --bits --channels --float --auto --strict --existing
            --yes --no --json --quiet --verbose'
        ;;
    inspect) options='--help --json' ;;
    extract) options='--help --from --to --existing --yes --no --json' ;;
    append) options='--help --from --to --json' ;;
    remove-chunk) options='--help --dest --existing --yes --no --json' ;;
    rescue) options='--help --dest --all --json --quiet' ;;
    esac
    if [[ $cur == -* ]]; then
        COMPREPLY=($(compgen -W "$options" -- "$cur"))
    elif [[ $command == remove-chunk && $prev == remove-chunk ]]; then
        COMPREPLY=($(compgen -W 'JUNK iXML LIST PAD' -- "$cur"))
    elif [[ $command == inspect || $command == remove-chunk || $command == rescue ]]; then
        _filedir
    else
        # Only .wav files are taken, in any letter case.
        _filedir '[wW][aA][vV]'
    fi
} &&
    complete -F _korva_cli korva-cli

# ex: filetype=sh
