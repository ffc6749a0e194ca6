#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# End-to-end cases: the real nvrst on an emulated board and on devices that
# are no board.
#
#   on-board -i IMAGE end-to-end.sh NVRST IMAGE   every case, in one testbed
#   end-to-end.sh NVRST -                         the cases that need no board,
#       for the static and cross builds (NVRST_EMULATOR runs the tool), and
#       only those that "run" it under an emulator
#
# A case: how it runs ("run" and redirections, or a function below), the
# device and words, the exit status, the board word that must change and its
# bytes afterwards (-: no byte of the board may change), then stdout and
# stderr exactly, with printf %b escapes. Each case starts on a board whose
# every byte differs from its neighbours, so a store at the wrong place or
# with the wrong byte shows.
set -u
nvrst=$1 image=$2 emu=${NVRST_EMULATOR-} B=/dev/nvsram0 Z=/dev/zero passed=0 failed=0 skipped=0
T=$(mktemp -d "${TMPDIR:-/tmp}/nvrst-e2e.XXXXXX") && trap 'rm -rf "$T"' EXIT &&
	perl -e 'print pack "C*", map { $_ % 251 } 0 .. 0x13FFFF' >"$T/pristine" ||
	{ echo "cannot make the scratch files under ${TMPDIR:-/tmp}" && exit 1; }
[ "$image" != - ] && image=$(realpath "$image") || image=$T/image

skip() { echo "$*" >"$T/skip" && exit; }
need() { command -v "$1" >/dev/null || skip "$1 is not installed"; }
run() { timeout 20 $emu "$nvrst" "$@"; } # a run that hangs fails its case
unbuffered() { ldd "$nvrst" >/dev/null 2>&1 || skip "a static program" && stdbuf -o0 "$nvrst" "$@"; }
few_fds() { ! grep -qa __asan_init "$nvrst" || skip "the sanitizer spins" && exec <&- && ulimit -n 3 && run "$@"; }
block() { mknod "$T/block" b 7 0 2>/dev/null || skip "mknod is not allowed" && run "$@"; }
nobody() { # root runs the tool as nobody, from a copy that nobody can reach
	local as=() && [ -c /dev/kmsg ] || skip "no /dev/kmsg here"
	[ "$(id -u)" != 0 ] || as=(setpriv --reuid=65534 --regid=65534 --clear-groups)
	cp "$nvrst" "$T/nvrst" && chmod 755 "$T" && "${as[@]}" test -x "$T/nvrst" || skip "nobody cannot reach $T"
	"${as[@]}" "$T/nvrst" "$@"
}
held() { # another run holds the board's lock for $1 s and stores 11111111 in word 272 as it ends
	exec 9<"$image" && flock 9 || return
	{ sleep "$1" 9<&- && printf '\x11\x11\x11\x11' |
		dd of="$image" bs=1 seek=$((0x120440)) conv=notrunc status=none && flock -u 9; } &
	shift && run "$@"
	set -- $? && wait && return "$1"
}
traced() { # the window's mapping, its release and the device's close, as strace sees them
	need strace && export ASAN_OPTIONS=${ASAN_OPTIONS-}:detect_leaks=0 # LeakSanitizer cannot run under ptrace
	env -u LD_PRELOAD strace -qq -o "$T/trace" -e trace=mmap,munmap,close "$nvrst" "$@" >/dev/null
	set -- $? && sed -En '/0x120000\)/,$ { /ANONYMOUS/d; s/ *= .*//; s/\(0x[0-9a-f]+,/(window,/
		s/ [0-9]+, 0x120000/ fd, 0x120000/; s/^close\([0-9]+\)/close(fd)/; p }' "$T/trace"
	return "$1"
}
debugged() { # gdb stops the tool in $1, runs the commands up to --, and lets it end
	need gdb && export ASAN_OPTIONS=${ASAN_OPTIONS-}:detect_leaks=0 && local stop=$1 ex=()
	while shift && [ "$1" != -- ]; do ex+=(-ex "$1"); done
	gdb -q -batch -ex 'set logging file /dev/null' -ex 'set logging redirect on' -ex 'set logging enabled on' \
		-ex 'handle SIGTERM nostop noprint' -ex "break $stop" -ex run "${ex[@]}" -ex continue \
		-ex 'quit $_isvoid($_exitsignal) ? $_exitcode : 128 + $_exitsignal' --args "$nvrst" "${@:2}"
}
# the link to /dev/zero is turned to the board's image between stat and open
swapped() { debugged open_dev_file 'catch syscall openat' continue "shell ln -sfn '$image' '$T/link'" delete -- "$@"; }
interrupted() { # SIGTERM arrives right after the first byte of the word is stored
	readelf -S "$nvrst" | grep -q debug_info || skip "the watch needs debugging information"
	debugged nvsram_set_dword 'watch -l *(nvsram + offset * 4)' continue 'call (void) raise(15)' -- "$@"
}

c() { # how, device and words, status, word=bytes, stdout, stderr
	local how=$1 status=$3 change=$4 s
	rm -f "$T/skip" && ln -sfn /dev/zero "$T/link" && cp "$T/pristine" "$image" && cp "$T/pristine" "$T/board" &&
		printf %b "$5" >"$T/out.want" && printf %b "$6" >"$T/err.want" && eval "set -- $2"
	[[ (-n ${UMOCKDEV_DIR-} || " $* " != *" $B "*) && (-z $emu || $how == run*) ]] || { ((++skipped)) && return; }
	[ "$change" = - ] || printf "$(sed 's/../\\x&/g' <<<"${change#*=}")" |
		dd of="$T/board" bs=1 seek=$((0x120000 + 4 * ${change%=*})) conv=notrunc status=none
	(eval "$how \"\$@\"") >"$T/out" 2>"$T/err"
	s=$?
	if [ -s "$T/skip" ]; then
		echo "skipped line ${BASH_LINENO[0]}: $how $*: $(<"$T/skip")" && ((++skipped))
	elif [ $s = "$status" ] && cmp -s "$T/out.want" "$T/out" && cmp -s "$T/err.want" "$T/err" &&
		cmp -s "$T/board" "$image"; then
		((++passed))
	else
		echo "FAILED line ${BASH_LINENO[0]}: $how $*: status $s, expected $status" && ((++failed))
		diff "$T/out.want" "$T/out" | head -20
		diff "$T/err.want" "$T/err"
		cmp -l "$T/board" "$image" | head -4
	fi
}

# The parameter area as the dump shows it: big-endian words, word 256 never read.
area=$(od -An -v -tx1 -j $((0x120400)) -N 512 "$T/pristine" | tr -d ' \n' | tr a-f A-F | fold -w8 |
	awk 'NR == 1 { $0 = "FFFFFFFF" } { printf "[%d] : %s\\n", NR + 255, $0 }')
e_vmin='\n\tvmin \n\t- Reset calibrated minimum charging voltage\n'
e_cap='\n\tcap <capacitor value>\n\t- Set capacitance value\n' e_dump='\n\tdumpall \n\t- dump all stored values\n'
u="\nCAUTION: This tool modifies onboard stored values. Using incorrect\nvalues may cause the board to not function"
u+=" properly\n\nUsage: $nvrst <device file> <cmd> [arguments]\nCommands:$e_vmin"
full_u="$u\n\tvtrim \n\t- Reset calibrated trim voltage\n$e_cap$e_dump\n\thidden \n\t- print all/hidden commands\n"
vmin_set='Setting minimum charging voltage to 4500 mV\n' vmin_range='Voltage value out of range\n'
bus="Device $Z failed on access to the NVSRAM window (bus error)\n" lost='Failed to write output\nwrite: '
busy="Device $B is in use by another process; gave up after 5 seconds\n"
trace='mmap(NULL, 131072, PROT_READ|PROT_WRITE, MAP_SHARED, fd, 0x120000)\nmunmap(window, 131072)\nclose(fd)\n'

# how            device and words         status  word=bytes    stdout       stderr
c run            "$Z"                        255  -             "$u"         ''
c run            "$Z H"                        0  -             "$full_u"    ''
c run            "$Z HIDDEN"                 255  -             ''           "Unknown command 'HIDDEN'\n"
c run            "$Z hid"                    255  -             ''           "Unknown command 'hid'\n"
c run            "$Z dump x"                   1  -             "$e_dump"    'Too many arguments for dump\n'
c run            "$Z cap"                      1  -             "$e_cap"     'Too few arguments for cap\n'
c run            "$B vmin 4500 4600"           1  -             "$e_vmin"    'Too many arguments for vmin\n'
# the device: checked, opened, locked and mapped, and what its faults give
c run            '"$T/missing" bogus'        255  -  '' "Cannot stat file $T/missing\nstat: No such file or directory\n"
c run            '"$T/pristine" H'           255  -  '' "File $T/pristine is not a character device\n"
c block          '"$T/block" H'              255  -  '' "File $T/block is not a character device\n"
c run            '"$T/link" hidden'            0  -  "$full_u" ''
c nobody         '/dev/kmsg H'               255  -  '' 'Failed to open device: /dev/kmsg\nopen: Permission denied\n'
c few_fds        "$Z H"                      255  -  '' "Failed to open device: $Z\nopen: Too many open files\n"
c swapped        '"$T/link" vmin 4500'       255  -  '' "File $T/link changed while it was being opened\n"
c 'held 1'       "$B vmin 4500"                0  272=00001194  "$vmin_set" ''
c 'held 8'       "$B vmin 4500"              255  272=11111111  '' "$busy"
c run            '/dev/null H'               255  -  'mmap error\n' ''
c traced         "$Z H"                        0  -  "$trace" ''
c run            "$Z cap 8"                  255  -  'Setting capacitance to 8 F\n' "$bus"
c run            "$Z dump"                   255  -  '[256] : FFFFFFFF\n' "$bus"
c interrupted    "$B vmin 4500"              143  272=00001194  '' ''
# values: the forms of a number, each range at both edges, the bytes stored
c run            "$B vmin 5100"                0  272=000013EC  'Setting minimum charging voltage to 5100 mV\n' ''
c run            "$B vmin"                     0  272=FFFFFFFF  'Resetting minimum charging voltage\n' ''
c run            "$B vmin 4499"              255  -             ''  "$vmin_range"
c run            "$B vmin 5101"              255  -             ''  "$vmin_range"
c run            "$B vmin 4294971796"        255  -             ''  "$vmin_range"
c run            "$B vmin 4600abc"           255  -             ''  "Invalid number '4600abc'\n"
c run            "$B vtrim 0"                  0  271=00000000  'Setting trim voltage to 0 mV\n' ''
c run            "$B vtrim 75"                 0  271=0000004B  'Setting trim voltage to 75 mV\n' ''
c run            "$B vtrim 0X4A"               0  271=0000004A  'Setting trim voltage to 74 mV\n' ''
c run            "$B vtrim"                    0  271=00000000  'Resetting trim voltage\n' ''
c run            "$B vtrim 76"               255  -             ''  'Trim voltage is high (<= 75 mV)\n'
c run            "$B vtrim -1"               255  -             ''  "Invalid number '-1'\n"
c run            "$B vtrim ''"               255  -             ''  "Invalid number ''\n"
c run            "$B cap 0"                    0  265=00000000  'Setting capacitance to 0 F\n' ''
c run            "$B cap 0x50"                 0  265=00000050  'Setting capacitance to 80 F\n' ''
c run            "$B cap 010"                  0  265=00000008  'Setting capacitance to 8 F\n' ''
c run            "$B cap 81"                 255  -             ''  'Capacitor value too high (<= 80 mV)\n'
c run            "$B cap 08"                 255  -             ''  "Invalid number '08'\n"
c run            "$B dump"                     0  -             "$area"  ''
# a closed standard stream never lets the device take its place; lost output is a failure
c 'run <&-'      "$B vmin 4500"                0  272=00001194  "$vmin_set" ''
c 'run >&-'      "$B vmin 4500 4600"           1  -             ''  'Too many arguments for vmin\n'
c 'run 2>&-'     "$B vmin 4499"              255  -             ''  ''
c 'run >&-'      "$B dump"                   255  -             ''  "${lost}Bad file descriptor\n"
c 'run >/dev/full' "$B dump"                 255  -             ''  "${lost}No space left on device\n"
c 'unbuffered >/dev/full' "$Z H"             255  -             ''  "${lost}No space left on device\n"

echo "end-to-end: $passed passed, $failed failed, $skipped skipped"
[ "$failed" = 0 ]
