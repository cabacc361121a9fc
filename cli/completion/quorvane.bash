# Bash completion for quorvane. The commands and options come from the
# command's own --help, so completion knows whatever the installed version
# knows; drive names come from `quorvane devices`.

# Prints the lines of one section ("Options", "Subcommands") of a help text.
__quorvane_section() {
  awk -v want="$1:" '$0 == want { on = 1; next } /^[A-Z][a-z]+:$/ { on = 0 } on && /^  [^ ]/'
}

# Prints each option of the help on stdin as "NAME TYPE" (TYPE empty for a flag).
__quorvane_options() {
  # The description follows after two spaces or more; before it, the names
  # and the value's type.
  __quorvane_section Options | sed -E 's/^  ([^ ]+( [^ ]+)*)  .*/\1/; s/^ +//' | while read -r names type _; do
    [[ $type =~ ^[A-Z]+(:.*)?$ ]] || type=
    local name
    for name in ${names//,/ }; do printf '%s %s\n' "$name" "$type"; done
  done
}

_quorvane() {
  local cur=${COMP_WORDS[COMP_CWORD]} prev=${COMP_WORDS[COMP_CWORD-1]}
  local cmd=${COMP_WORDS[0]} path=() help options subs i word type
  help=$("$cmd" --help 2>/dev/null) || return
  # Walk the words typed so far: subcommands deepen the path, an option that
  # takes a value skips it.
  for ((i = 1; i < COMP_CWORD; i++)); do
    word=${COMP_WORDS[i]}
    if [[ $word == -* ]]; then
      type=$(__quorvane_options <<<"$help" | awk -v o="$word" '$1 == o { print $2 }')
      [[ -n $type && $word != *=* ]] && ((i++))
    elif __quorvane_section Subcommands <<<"$help" | awk '{ print $1 }' | grep -qx -- "$word"; then
      path+=("$word")
      help=$("$cmd" "${path[@]}" --help 2>/dev/null) || return
    fi
  done
  options=$(__quorvane_options <<<"$help")
  type=$(awk -v o="$prev" '$1 == o { print $2 }' <<<"$options")
  if [[ $prev == --drive ]]; then
    local drives
    drives=$("$cmd" --json devices 2>/dev/null | sed -n 's/^ *"name": "\(.*\)",\{0,1\}$/\1/p')
    mapfile -t COMPREPLY < <(compgen -W "$drives" -- "$cur")
    return
  fi
  if [[ $type == *:\{*\}* ]]; then
    local choices=${type#*\{}
    choices=${choices%%\}*}
    mapfile -t COMPREPLY < <(compgen -W "${choices//,/ }" -- "$cur")
    return
  fi
  if [[ $type == TEXT* ]]; then
    mapfile -t COMPREPLY < <(compgen -f -- "$cur")
    return
  fi
  [[ -n $type ]] && return
  if [[ $cur == -* ]]; then
    mapfile -t COMPREPLY < <(compgen -W "$(awk '{ print $1 }' <<<"$options")" -- "$cur")
    return
  fi
  subs=$(__quorvane_section Subcommands <<<"$help" | awk '{ print $1 }')
  if [[ -n $subs ]]; then
    mapfile -t COMPREPLY < <(compgen -W "$subs" -- "$cur")
  else
    mapfile -t COMPREPLY < <(compgen -f -- "$cur")
  fi
}
complete -o filenames -o bashdefault -F _quorvane quorvane
