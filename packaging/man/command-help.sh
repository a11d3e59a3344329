#!/bin/sh
# command-help.sh PROGRAM --help|--version: the help of a program with commands (CLI11's
# form), followed by the help of each of its commands and their commands in turn, so that
# help2man makes one manual page that lists every command and option.
set -eu
program=$1
case ${2:-} in
--version) exec "$program" --version ;;
--help) ;;
*) echo "usage: command-help.sh PROGRAM --help|--version" >&2; exit 2 ;;
esac

# The names listed under "Subcommands:" in a help text.
commands() {
    awk '/^[A-Za-z][A-Za-z ]*:[[:space:]]*$/ { s = tolower($0); next }
         s ~ /^subcommands/ && /^  [a-z]/ { print $1 }'
}

# One command's help as a section of the page: its usage and description, then its
# arguments and options (the headings inside it would start sections of their own). A
# subshell each, so the recursion keeps its own variables.
section() (
    name=$1
    shift
    text=$("$program" "$@" --help)
    echo
    echo "Command $name:"
    # Description and usage as paragraphs of their own, then one item per argument and
    # option, as help2man lays out an option list.
    printf '%s\n' "$text" | awk '
        /^Usage: / { sub(/^Usage: /, ""); usage = "  " $0; next }
        /^[A-Za-z][A-Za-z ]*:[[:space:]]*$/ { next }
        /^ +-h,--help/ { next }
        /^$/ { next }
        /^[^ ]/ { print "  " $0; next }
        { if (usage != "") { print ""; print usage; print ""; usage = "" } print }
        END { if (usage != "") { print ""; print usage } }'
    for sub in $(printf '%s\n' "$text" | commands); do
        section "$name $sub" "$@" "$sub"
    done
)

top=$("$program" --help)
printf '%s\n' "$top"
for command in $(printf '%s\n' "$top" | commands); do
    section "$command" "$command"
done
