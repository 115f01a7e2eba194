# fish completion for korva-cli

set -l commands repair inspect extract append remove-chunk rescue

complete -c korva-cli -f
complete -c korva-cli -s h -l help -d 'Print a summary of the options'
complete -c korva-cli -l version -d 'Print the version'
complete -c korva-cli -n "not __fish_seen_subcommand_from $commands" -a repair \
    -d 'Copy files into a folder and repair each copy'
complete -c korva-cli -n "not __fish_seen_subcommand_from $commands" -a inspect \
    -d 'Show the chunks of files and whether they can be repaired'
complete -c korva-cli -n "not __fish_seen_subcommand_from $commands" -a extract \
    -d 'Write frames of a WAV file into a new one'
complete -c korva-cli -n "not __fish_seen_subcommand_from $commands" -a append \
    -d 'Append frames of a WAV file to another'
complete -c korva-cli -n "not __fish_seen_subcommand_from $commands" -a remove-chunk \
    -d 'Copy files into a folder without a chunk'
complete -c korva-cli -n "not __fish_seen_subcommand_from $commands" -a rescue \
    -d 'Write the takes a power cut left unfinished on a card into a folder'

set -l repair '__fish_seen_subcommand_from repair inspect'
set -l folder '__fish_seen_subcommand_from repair remove-chunk rescue'
set -l rescue '__fish_seen_subcommand_from rescue'
set -l existing '__fish_seen_subcommand_from repair extract remove-chunk'
set -l frames '__fish_seen_subcommand_from extract append'

complete -c korva-cli -n $folder -s d -l dest -x -a '(__fish_complete_directories)' \
    -d 'Folder for the copies'
complete -c korva-cli -n '__fish_seen_subcommand_from repair remove-chunk' -l parents -d 'Create the folder when it does not exist'
complete -c korva-cli -n $repair -s r -l rate -x \
    -a 'auto 44100 48000 88200 96000 176400 192000 44.1k 48k 96k' \
    -d 'Sample rate written into the fmt chunk'
complete -c korva-cli -n $repair -s b -l bits -x -a 'auto 8 16 24 32 64' -d 'Bits per sample'
complete -c korva-cli -n $repair -s c -l channels -x -a 'auto 1 2 4 6 8' -d 'Channels'
complete -c korva-cli -n $repair -l float -d 'IEEE float samples instead of integer PCM'
complete -c korva-cli -n $repair -l auto -d "Each part no option gives from the file's own evidence (the default)"
complete -c korva-cli -n $repair -l strict -d 'Fail a file whose metadata contradicts the format'
complete -c korva-cli -n '__fish_seen_subcommand_from repair rescue' -l quiet -d 'Print only the files that failed'
complete -c korva-cli -n '__fish_seen_subcommand_from repair' -l verbose -d 'Also print what the job does'
complete -c korva-cli -n $existing -l existing -x -a 'ask overwrite skip stop' \
    -d 'A file of that name in the destination'
complete -c korva-cli -n $existing -s y -l yes -d 'Overwrite a file of that name in the destination'
complete -c korva-cli -n $existing -s n -l no-clobber \
    -d 'Keep a file of that name in the destination and go on'
complete -c korva-cli -n $existing -l no -d 'Keep a file of that name in the destination and stop'
complete -c korva-cli -n $frames -l from -x -d 'The first frame'
complete -c korva-cli -n $frames -l to -x -d 'One past the last frame'
complete -c korva-cli -n "__fish_seen_subcommand_from $commands; and not __fish_seen_subcommand_from append" \
    -l json -d 'One JSON object per file'
complete -c korva-cli -n '__fish_seen_subcommand_from append' -l json -d 'A JSON object instead of a line'

# Only .wav files are taken by repair, extract and append; they are offered first.
complete -c korva-cli -n '__fish_seen_subcommand_from repair extract append' -k \
    -a '(__fish_complete_suffix .wav)'
complete -c korva-cli -n '__fish_seen_subcommand_from inspect remove-chunk' -F
complete -c korva-cli -n '__fish_seen_subcommand_from inspect' -l brief \
    -d 'One line per file: path, status, format and duration'
complete -c korva-cli -n '__fish_seen_subcommand_from inspect' -l waveform -r -F \
    -d 'Draw the one take as a PNG, each channel a lane'
complete -c korva-cli -n '__fish_seen_subcommand_from repair inspect rescue' -l report -r -F \
    -d 'Also write a report of every file to FILE (CSV, or text for .txt)'
complete -c korva-cli -n $rescue -l all -d 'Also copy the takes the card holds whole'
complete -c korva-cli -n $rescue -F -d 'Card image or device'
