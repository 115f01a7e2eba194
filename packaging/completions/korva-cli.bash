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
    --dest | -d)
        _filedir -d
        return
        ;;
    --rate | -r)
        COMPREPLY=($(compgen -W 'auto 44100 48000 88200 96000 176400 192000 44.1k 48k 96k' -- "$cur"))
        return
        ;;
    --bits | -b)
        COMPREPLY=($(compgen -W 'auto 8 16 24 32 64' -- "$cur"))
        return
        ;;
    --channels | -c)
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
        options='--help --version -d --dest --parents -r --rate -b --bits -c --channels --float
            --auto --strict --existing -y --yes -n --no-clobber --no --json --report --quiet --verbose'
        ;;
    inspect)
        options='--help --version -r --rate -b --bits -c --channels --float --auto --strict --json --brief
            --waveform --report'
        ;;
    extract) options='--help --version --from --to --existing -y --yes -n --no-clobber --no --json' ;;
    append) options='--help --version --from --to --json' ;;
    remove-chunk)
        options='--help --version -d --dest --parents --existing -y --yes -n --no-clobber --no --json'
        ;;
    rescue) options='--help --version -d --dest --all --json --report --quiet' ;;
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
