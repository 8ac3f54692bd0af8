#!/usr/bin/env bash
# A manual page kept in the repository must describe the options the program's --help lists:
# the same long options, no more and no fewer, and the program's name and version must agree.
#   man_page_test.sh PROGRAM MANPAGE VERSION
set -euo pipefail
program=$1 page=$2 version=$3
name=$(basename "$program")

help_options=$("$program" --help | grep -oE '(^|[ ,])--[a-z][a-z-]*' | sed 's/^[ ,]//' | sort -u)
# roff writes a dash as \- ; only the option lines (.B/.BI/.BR after .TP) count.
page_options=$(sed -n '/^\.SH OPTIONS/,/^\.SH /p' "$page" | sed 's/\\-/-/g' \
  | grep -E '^\.(B|BI|BR) ' | grep -oE '(^|[ ,"])--[a-z][a-z-]*' | sed 's/^[ ,"]//' | sort -u)

if [ "$help_options" != "$page_options" ]; then
  echo "FAIL: the options of $name --help and of $(basename "$page") differ (< --help, > page):" >&2
  diff <(echo "$help_options") <(echo "$page_options") >&2 || true
  exit 1
fi
[ -n "$help_options" ] || { echo "FAIL: no options found in $name --help" >&2; exit 1; }

title=$(grep -m1 '^\.TH ' "$page" | awk '{print $2}')
[ "$title" = "$(echo "$name" | tr a-z A-Z)" ] || { echo "FAIL: $(basename "$page") is titled $title" >&2; exit 1; }
[ "$("$program" --version)" = "$name $version" ] || { echo "FAIL: $name --version is not \"$name $version\"" >&2; exit 1; }
echo "$name: $(echo $help_options | wc -w) options, man page agrees"
