#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# The completion's replies for the device word as bash-completion asks for
# them: directories and character devices, but no regular file and no
# terminal (/dev/ptmx, never opened); nothing of what was typed is run.
. /usr/share/bash-completion/bash_completion && . "$(dirname "$0")/../driver/tools/nvrst.bash-completion" || exit
cd "$(mktemp -d)" && trap 'rm -rf "$PWD"' EXIT && mkdir d && touch f && ln -s /dev/zero z && ln -s /dev/ptmx p || exit
for w in '$(touch x)' ''; do COMP_WORDS=(nvrst "$w") COMP_CWORD=1 COMP_LINE="nvrst $w" COMP_POINT=99 COMPREPLY=()
	_nvrst; done
[ "${COMPREPLY[*]}" = "d z" ] && [ ! -e x ]
