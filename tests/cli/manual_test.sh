#!/usr/bin/env bash
# The manual page and the bash completion against the command itself:
# every command and option of --help is in the page, every exit code of the
# command is explained there, groff reads the page without a warning, and
# completion offers commands, options, choices and drive names.
# Usage: manual_test.sh QUORVANE MAN_PAGE SOURCE_DIR
set -u
q=$1 page=$2 src=$3
fail=0
bad() { echo "FAIL: $*"; fail=1; }

[[ -s $page ]] || { echo "FAIL: no manual page at $page"; exit 1; }
warnings=$(groff -man -ww -z -Tutf8 "$page" 2>&1)
[[ -z $warnings ]] || bad "groff warns: $warnings"
text=$(MANWIDTH=200 man -l "$page" 2>/dev/null | col -b)

# Every command path and every option of every --help.
walk() {
  local help entries
  help=$("$q" "$@" --help) || { bad "$* --help failed"; return; }
  if (($#)); then grep -qF "quorvane $*" <<<"$text" || bad "command '$*' missing from the page"; fi
  while read -r names _; do
    for name in ${names//,/ }; do
      grep -qe "$name" <<<"$text" || bad "option $name of '$*' missing from the page"
    done
  done < <(awk '$0 == "Options:" { on = 1; next } /^[A-Z][a-z]+:$/ { on = 0 } on && /^  [^ ]/' <<<"$help")
  entries=$(awk '$0 == "Subcommands:" { on = 1; next } /^[A-Z][a-z]+:$/ { on = 0 } on && /^  [^ ]/ { print $1 }' <<<"$help")
  for sub in $entries; do walk "$@" "$sub"; done
}
walk

# Every exit code the command can end with.
exits=$(sed -n '/^EXIT STATUS/,/^JSON OUTPUT/p' <<<"$text")
for code in $(sed -n 's/^ *kExit[A-Za-z]* = \([0-9]*\),.*/\1/p' "$src/cli/outcome.h"); do
  grep -qE "^ +$code\b" <<<"$exits" || bad "exit code $code not explained in EXIT STATUS"
done

# Completion, as bash asks for it.
export QUORVANE_VDRIVE_HOME=$(mktemp -d)
trap 'rm -rf "$QUORVANE_VDRIVE_HOME"' EXIT
"$q" vdrive create spare >/dev/null 2>&1 || bad "vdrive create failed"
bindir=$(dirname "$q")
complete_line() {
  PATH="$bindir:$PATH" bash -c '
    source "$1"; shift
    COMP_WORDS=("$@"); COMP_CWORD=$(($# - 1)); _quorvane; printf "%s\n" "${COMPREPLY[@]}"' _ \
    "$src/cli/completion/quorvane.bash" "$@"
}
expect() {  # expect "WORDS..." WANTED: the completions of the words hold WANTED
  local wanted=$1; shift
  complete_line "$@" | grep -qx -- "$wanted" || bad "completing '$*' does not offer $wanted: $(complete_line "$@" | tr '\n' ' ')"
}
expect image quorvane im
expect bin quorvane image ""
expect --boot-emulation quorvane image iso --boot-e
expect floppy quorvane image iso --boot-emulation ""
expect spare quorvane burn --drive ""
expect --multisession quorvane burn --drive spare --mu
expect decode quorvane --json audio ""
expect --part-size quorvane grab --disc --out x --pa
exit $fail
