# bash completion for tonflux-convert: its options, and after each the names it takes there:
# folders after -d, MDS files after --dump, and as inputs the MIDI files (*.mid, *.midi, with
# --lenient also *.rmi) and MDS files it converts, and folders.

# Names starting with $cur: folders, and files whose name (in any case) matches the extended
# pattern $1 (every file when empty).
_tonflux_convert_names() {
    local name
    while IFS= read -r name; do
        if [[ -d $name || -z $1 || ${name,,} == $1 ]]; then
            COMPREPLY+=("$name")
        fi
    done < <(compgen -f -- "$cur")
    compopt -o filenames 2>/dev/null
}

_tonflux_convert() {
    local cur=${COMP_WORDS[COMP_CWORD]} prev=${COMP_WORDS[COMP_CWORD - 1]}
    COMPREPLY=()
    # --option=value arrives as three words: the option, "=", the value typed so far.
    if [[ $cur == = ]]; then
        cur=""
    elif [[ $prev == = ]]; then
        prev=${COMP_WORDS[COMP_CWORD - 2]}
    fi

    case $prev in
    -o | --output)
        _tonflux_convert_names ""
        return
        ;;
    -d | --output-dir)
        compopt -o filenames 2>/dev/null
        mapfile -t COMPREPLY < <(compgen -d -- "$cur")
        return
        ;;
    -k | --buffer-kb | -j | --jobs)
        return
        ;;
    --dump)
        _tonflux_convert_names "*.mds"
        return
        ;;
    esac

    if [[ $cur == -* ]]; then
        mapfile -t COMPREPLY < <(compgen -W "-o --output -d --output-dir -k --buffer-kb
            --no-running-status --omit-stream-ids -f --force -j --jobs -r --recursive --to-mid
            --lenient -q --quiet --dump -h --help --version --" -- "$cur")
        return
    fi
    local word inputs="*.@(mid|midi|mds)"
    for word in "${COMP_WORDS[@]}"; do
        [[ $word == --lenient ]] && inputs="*.@(mid|midi|mds|rmi)"
    done
    _tonflux_convert_names "$inputs"
}

complete -F _tonflux_convert tonflux-convert
