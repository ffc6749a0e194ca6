#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# The completion's replies as bash-completion asks for them, given the words
# so far, the last one being completed: for the device, directories and
# character devices, but no regular file and no terminal (/dev/ptmx, never
# opened), and nothing of what was typed is run; after the device, the
# command table's words in its order; nothing after the command word.
#
#   completion.sh
cd "$(dirname "$0")/../driver/tools" && . nvrst.bash-completion || exit
. /usr/share/bash-completion/bash_completion 2>/dev/null || { echo 'bash-completion is missing'; exit 77; }
table=$(sed -En 's/^\t\{"([^"]+)", "([^"]+)".*/\1\n\2/p' cmd_table.cpp | awk '!seen[$0]++' | paste -sd' ')
cd "$(mktemp -d)" && trap 'rm -rf "$PWD"' EXIT && mkdir d && touch f && ln -s /dev/zero z && ln -s /dev/ptmx t || exit
r() { COMP_WORDS=(nvrst "$@") COMP_CWORD=$# COMP_LINE="nvrst $*" COMPREPLY=() && _nvrst; echo "[${COMPREPLY[*]}]"; }
COMP_POINT=100 got=$(r '' && r z '' && r z vmin '' && r '$(touch x)')
[ "$got" = "[d z]"$'\n'"[$table]"$'\n[]\n[]' ] && [ ! -e x ] || { echo "$got"; exit 1; }
