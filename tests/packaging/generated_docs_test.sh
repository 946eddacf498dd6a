#!/usr/bin/env bash
# Checks the generated man page and shell completion against the built program: every
# command of `tvq --help` and every option of each `tvq COMMAND --help` appears in the
# man page and in both completion scripts; the bash completion, run as bash runs it,
# offers exactly each command's options, the names of its choice options and the
# picture files; the man page renders without a groff warning; `tvq --version` names
# the version.
#
#   generated_docs_test.sh TVQ VERSION MAN_PAGE BASH_COMPLETION ZSH_COMPLETION
set -uo pipefail
tvq=$1 version=$2 man=$3 bash_completion=$4 zsh_completion=$5
passed=0 failed=0
check() {  # check DESCRIPTION COMMAND...: passes when the command succeeds
  local what=$1
  shift
  if "$@"; then
    passed=$((passed + 1))
  else
    failed=$((failed + 1))
    echo "FAILED: $what" >&2
  fi
}
same() { [ "$1" = "$2" ] || { printf 'expected: %s\n     got: %s\n' "$1" "$2" >&2 && false; }; }
# has_option TEXT OPTION: OPTION stands in TEXT as a whole word.
has_option() { grep -qE -- "(^|[^a-z-])$2([^a-z-]|\$)" <<<"$1" || { echo "$2 is missing" >&2 && false; }; }

# The man page as text: roff's escapes of dashes and fonts removed.
man_text=$(sed -e 's/\\-/-/g' -e 's/\\f[BIR]//g' "$man")
# The part of the man page between the line matching $1 and the next heading.
man_part() { awk -v start="$1" '$0 == start {on = 1; next} on && /^\.S[HS] / {exit} on' <<<"$man_text"; }
shared_options=$(man_part '.SH "PICTURE OPTIONS"'; man_part '.SH "COMMON OPTIONS"')

# Completes the words "$@" (the last one being typed) with the generated bash script,
# from the current folder; prints the candidates sorted, one a line.
complete_words() {
  bash --norc --noprofile -c '
    source "$1"
    shift
    COMP_WORDS=(tvq "$@")
    COMP_CWORD=$#
    _tvq
    printf "%s\n" "${COMPREPLY[@]}" | sort' _ "$bash_completion" "$@"
}
words() { tr ' ' '\n' <<<"$*" | sed '/^$/d' | sort; }

check "tvq --version" same "tvq $version" "$("$tvq" --version | sed 's/ (git [0-9a-f]*)$//')"

commands=$("$tvq" --help | awk '/^Commands:/ {on = 1; next} on && /^$/ {exit} on && /^  [a-z]/ {print $1}')
check "the help lists commands" test -n "$commands"
check "tvq <Tab>: the commands" same "$(words $commands --help --version)" "$(complete_words '')"

for command in $commands; do
  help=$("$tvq" "$command" --help)
  options=$(grep -oE '^  --[a-z0-9-]+' <<<"$help" | sed 's/^  //')
  own=$(man_part ".SS $command")
  check "man page: subsection $command" test -n "$own"
  zsh_branch=$(awk -v start="    ($command)" '$0 == start {on = 1; next} on && /^      ;;$/ {exit} on' \
    "$zsh_completion")
  check "zsh: branch $command" test -n "$zsh_branch"
  for option in $options; do
    check "man page: $command $option" has_option "$own$shared_options" "$option"
    check "zsh: $command $option" has_option "$zsh_branch" "$option"
  done
  check "tvq $command --<Tab>: its options" same "$(words $options)" \
    "$(complete_words "$command" --)"
  # A choice option's names, as its help shows them: --stabilizer laplace|tv|...
  while read -r option choices; do
    check "tvq $command $option <Tab>" same "$(words ${choices//|/ })" \
      "$(complete_words "$command" "$option" '')"
  done < <(grep -oE '^  --[a-z0-9-]+ [a-z0-9-]+(\|[a-z0-9-]+)+( |$)' <<<"$help")
done

# Inputs are picture files (by extension, in any case) and folders; -o takes a folder.
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
mkdir "$scratch/photos"
touch "$scratch/a.png" "$scratch/b.TIFF" "$scratch/c.txt" "$scratch/d.jpeg"
(
  cd "$scratch" || exit 1
  check "tvq resample <Tab>: pictures and folders" same "$(words a.png b.TIFF d.jpeg photos)" \
    "$(complete_words resample '')"
  check "tvq grey x -o <Tab>: folders" same photos "$(complete_words grey a.png -o '')"
  check "tvq grey --format <Tab>: extensions" same "$(words bmp jpeg jpg pfm png tif tiff webp)" \
    "$(complete_words grey --format '')"
  echo "$passed passed, $failed failed" >"$scratch/counts"
)
read -r passed _ failed _ <"$scratch/counts"

if command -v groff >/dev/null; then
  warnings=$(groff -t -man -ww -z -Tutf8 "$man" 2>&1)
  check "man page renders without warnings" same "" "$warnings"
fi

echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
