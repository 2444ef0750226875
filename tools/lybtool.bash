# bash completion for lybtool. The commands come from "lybtool --help", so
# every command the program has is offered; account names from "lybtool
# accounts", entry ids from "lybtool list" (the account of the "Message
# Store" setting). Installed as share/bash-completion/completions/lybtool.

# Adds the words of a command's output lines that start with the word being
# completed, quoted for the shell (account names have blanks).
_lybtool_lines() {
    local IFS=$'\n' word
    for word in $(compgen -W "$("$@" 2>/dev/null)" -- "$cur"); do
        COMPREPLY+=("$(printf '%q' "$word")")
    done
}

_lybtool() {
    local cur=${COMP_WORDS[COMP_CWORD]} tool=${COMP_WORDS[0]} command=${COMP_WORDS[1]}
    COMPREPLY=()
    if ((COMP_CWORD == 1)); then
        _lybtool_lines eval "\"$tool\" --help | sed -n 's/^  \([a-z][a-z-]*\).*/\1/p'"
        return
    fi
    local ids="\"$tool\" list | cut -f7"
    case $command in
    list)
        _lybtool_lines "$tool" accounts
        COMPREPLY+=($(compgen -W "--json" -- "$cur"))
        ;;
    export)
        if [[ $cur == -* ]]; then
            COMPREPLY=($(compgen -W "--wav" -- "$cur"))
        elif ((COMP_CWORD == 2)); then
            _lybtool_lines eval "$ids"
        else
            compopt -o default 2>/dev/null
        fi
        ;;
    undelete)
        ((COMP_CWORD == 2)) && _lybtool_lines "$tool" accounts
        ;;
    *)
        # Files for the rest (show, decode, play, ...).
        compopt -o default 2>/dev/null
        ;;
    esac
}
complete -F _lybtool lybtool
