#!/usr/bin/env bash
# docs-name-every-option.sh KORVA_CLI SOURCE_DIR
# Every command and option korva-cli's --help lists must be in its manual page
# and in the bash, zsh and fish completions, so that none of them falls behind
# the program.
set -euo pipefail
cli=$1
top=$2
man=$top/docs/korva-cli.1
completions=("$top"/packaging/completions/{korva-cli.bash,_korva-cli,korva-cli.fish})

missing=0
# lacks KIND NAME FILE: tells which file falls behind, and fails the test.
lacks() {
    echo "$3 does not name $1 $2" >&2
    missing=1
}

commands=$("$cli" --help | awk '/^Subcommands:/ { on = 1; next } on && NF { print $1 }')
[ -n "$commands" ] || { echo "korva-cli --help lists no commands" >&2; exit 1; }
for command in $commands; do
    grep -q -- "korva-cli $command" "$man" || lacks command "$command" "$man"
    for file in "${completions[@]}"; do
        grep -qw -- "$command" "$file" || lacks command "$command" "$file"
    done
    for option in $("$cli" "$command" --help | grep -oE -- '--[a-z][a-z-]*' | sort -u); do
        # The manual page writes each hyphen as \-.
        grep -qF -- "${option//-/\\-}" "$man" || lacks option "$command $option" "$man"
        name=${option#--}
        for file in "${completions[@]}"; do
            grep -qE -- "(--|-l )$name\b" "$file" || lacks option "$command $option" "$file"
        done
    done
done
exit $missing
