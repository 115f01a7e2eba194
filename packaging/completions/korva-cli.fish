# fish completion for korva-cli

set -l commands repair inspect

complete -c korva-cli -f
complete -c korva-cli -s h -l help -d 'Print a summary of the options'
complete -c korva-cli -n "not __fish_seen_subcommand_from $commands" -l version -d 'Print the version'
complete -c korva-cli -n "not __fish_seen_subcommand_from $commands" -a repair \
    -d 'Copy files into a folder and give each copy a fmt chunk'
complete -c korva-cli -n "not __fish_seen_subcommand_from $commands" -a inspect \
    -d 'Show the chunks of files and whether they can be repaired'

# repair: only .wav files are taken; they are offered first.
complete -c korva-cli -n '__fish_seen_subcommand_from repair' -l dest -x \
    -a '(__fish_complete_directories)' -d 'Folder for the repaired copies'
complete -c korva-cli -n '__fish_seen_subcommand_from repair' -l rate -x \
    -a '44100 48000 88200 96000 128000' -d 'Sample rate written into the fmt chunk'
complete -c korva-cli -n '__fish_seen_subcommand_from repair' -l bits -x \
    -a '16 24' -d 'Bits per sample written into the fmt chunk'
complete -c korva-cli -n '__fish_seen_subcommand_from repair; and not __fish_seen_argument -l no' \
    -l yes -d 'Overwrite existing files without asking'
complete -c korva-cli -n '__fish_seen_subcommand_from repair; and not __fish_seen_argument -l yes' \
    -l no -d 'Never overwrite an existing file'
complete -c korva-cli -n '__fish_seen_subcommand_from repair' -l trace \
    -d 'Send the chunk-walk trace to standard output'
complete -c korva-cli -n '__fish_seen_subcommand_from repair' -k -a '(__fish_complete_suffix .wav)'

complete -c korva-cli -n '__fish_seen_subcommand_from inspect' -l json \
    -d 'One JSON object per file, one per line'
complete -c korva-cli -n '__fish_seen_subcommand_from inspect' -F
