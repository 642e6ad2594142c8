#!/usr/bin/env bash
# The manual page and the bash completion list exactly the commands and options
# that `tplforge-cli ... --help` lists, and the completion answers.
#   docs_match_help.sh CLI MANPAGE COMPLETION
set -uo pipefail
cli=$1 man=$2 completion=$3
problems=0
problem() { echo "$*" >&2; problems=$((problems + 1)); }

commands=$("$cli" --help | sed -n '/^Subcommands:/,$ s/^  \([a-z][a-z-]*\) .*/\1/p')
[ -n "$commands" ] || problem "no commands in tplforge-cli --help"
help_options() { "$cli" "$1" --help | sed -n 's/^  \(-[^ ]*\).*/\1/p' | tr ',' '\n' | sort -u; }
# The manual's section of a command, with roff's escapes taken out.
man_section() {
    awk -v want=".SS $1" '$0 == want { on = 1; next } /^\.S[SH] / { on = 0 } on' "$man" |
        sed -e 's/\\-/-/g' -e 's/\\f[BIRP]//g'
}
# The options a section describes: those on the line after each .TP.
man_options() {
    man_section "$1" | awk 'prev == ".TP" { print } { prev = $0 }' |
        grep -oE '(^|[ ,])--?[a-z][a-z0-9-]*' | sed 's/^[ ,]//' | sort -u
}
source "$completion"

man_commands=$(sed -n 's/^\.SS \([a-z][a-z-]*\)$/\1/p' "$man" | sort)
[ "$man_commands" = "$(echo "$commands" | sort)" ] ||
    problem "manual commands [$man_commands] differ from --help [$commands]"
[ "$(echo $_tplforge_cli_commands | tr ' ' '\n' | sort)" = "$(echo "$commands" | sort)" ] ||
    problem "completion commands [$_tplforge_cli_commands] differ from --help [$commands]"

for command in $commands; do
    help=$(help_options "$command")
    described=$(man_options "$command")
    for option in $help; do
        [ "$option" = -h ] || [ "$option" = --help ] && continue
        grep -qx -- "$option" <<<"$described" || problem "manual: $command $option is not described"
    done
    for option in $described; do
        grep -qx -- "$option" <<<"$help" || problem "manual: $command $option is not an option of --help"
    done
    variable=_tplforge_cli_opts_${command//-/_}
    completed=$(echo ${!variable-} | tr ' ' '\n' | sort -u)
    [ "$completed" = "$help" ] || problem "completion: $command offers [$(echo $completed)], --help lists [$(echo $help)]"
done

# The completion answers as a shell asks it.
complete_words() {
    COMP_WORDS=("$@")
    COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
    _tplforge_cli
    echo "${COMPREPLY[*]}"
}
[ "$(complete_words tplforge-cli enc)" = encode ] || problem "completion: 'enc' does not give encode"
[ "$(complete_words tplforge-cli encode -f c)" = "c4 c8 c14x2 cmpr" ] ||
    problem "completion: 'encode -f c' gives [$(complete_words tplforge-cli encode -f c)]"
[ "$(complete_words tplforge-cli encode --palette rgb5)" = "rgb565 rgb5a3" ] ||
    problem "completion: '--palette rgb5' gives [$(complete_words tplforge-cli encode --palette rgb5)]"

[ $problems -eq 0 ] && echo "manual and completion match --help for: $(echo $commands)"
exit $((problems > 0))
