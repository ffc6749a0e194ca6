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
set -u && ulimit -c 0 # a run that a signal ends leaves no core file
nvrst=$1 image=$2 emu=${NVRST_EMULATOR-} B=/dev/nvsram0 Z=/dev/zero passed=0 failed=0 skipped=0 wrap=()
T=$(mktemp -d "${TMPDIR:-/tmp}/nvrst-e2e.XXXXXX") && trap 'rm -rf "$T"' EXIT &&
	perl -e 'print pack "C*", map { $_ % 251 } 0 .. 0x13FFFF' >"$T/pristine" ||
	{ echo "cannot make the scratch files under ${TMPDIR:-/tmp}" && exit 1; }
[ "$image" != - ] && image=$(realpath "$image") || image=$T/image
# nodes of the suite's own: /dev/zero's twin, which no other program can hold locked, and one no driver backs
mknod "$T/zero" c 1 5 2>/dev/null && mknod "$T/nodev" c 0 0 && head -c1 "$T/zero" >/dev/null 2>&1 && Z=$T/zero

skip() { echo "$*" >"$T/skip" && exit; }
need() { command -v "$1" >/dev/null || skip "$1 is not installed"; }
run() { timeout 20 $emu "$nvrst" "$@"; } # a run that hangs fails its case
few_fds() { ! grep -qa __asan_init "$nvrst" || skip "the sanitizer spins" && exec <&- && ulimit -n 3 && run "$@"; }
nobody() { # root runs the tool as nobody, from a copy of mode $1 that nobody can reach
	local as=() && [ -c /dev/kmsg ] || skip "no /dev/kmsg here" && [ "$(id -u)" != 0 ] || as=(setpriv --reuid=65534 --regid=65534 --clear-groups)
	cp "$nvrst" "$T/nvrst" && chmod 755 "$T" && chmod "$1" "$T/nvrst" && "${as[@]}" test -x "$T/nvrst" ||
		skip "nobody cannot reach $T" && "${as[@]}" "$T/nvrst" "${@:2}"
}
suid() { # a set-user-ID root copy that nobody runs
	[ "$(id -u)" = 0 ] && findmnt -no OPTIONS -T "$T" | grep -vqw nosuid || skip "no set-user-ID copy here" &&
		LD_PRELOAD= nobody 4755 "$@"; }
pl() { perl -e "$1; exec @ARGV" -- "$nvrst" "${@:2}"; } # perl's $1 sets up the run
# another run holds the board's lock ($2: -s shared, -x exclusive) for $1 s and stores 11111111 in word 272 as it
# ends; the tool's every sleep may last a second longer than asked (a timer slack)
held() {
	exec 9<"$image" && flock "$2" 9 || return
	{ sleep "$1" 9<&- && printf '\x11\x11\x11\x11' |
		dd of="$image" bs=1 seek=$((0x120440)) conv=notrunc status=none && flock -u 9; } &
	shift 2 && pl 'require "syscall.ph"; syscall(&SYS_prctl, 29, 1e9)' "$@"
	set -- $? && wait && return "$1"
}
# the device's open and its descriptor (fd: above the standard ones), the window's mapping, its release and the
# device's close, as strace sees them, after the run's own messages on stderr; $shut closes the run's streams
traced() {
	need strace && export ASAN_OPTIONS=${ASAN_OPTIONS-}:detect_leaks=0 # LeakSanitizer cannot run under ptrace
	env -u LD_PRELOAD strace -qq -o "$T/trace" -e trace=open,openat,mmap,munmap,close \
		sh -c "exec \"\$0\" \"\$@\" ${shut-}" "$nvrst" "$@"
	set -- $? && sed -En '\#^open(at\(AT_FDCWD, |\()"'"$Z"'"#,$ { /ANONYMOUS/d; /^open/!s/ *= .*//
		s/ = ([3-9]|[1-9][0-9]+)$/ = fd/; s/\(0x[0-9a-f]+,/(window,/; s/^open\(/openat(AT_FDCWD, /; s/\|O_LARGEFILE//
		s/ [0-9]+, 0x120000/ fd, 0x120000/; s/^close\([0-9]+\)/close(fd)/; p }' "$T/trace" >&2
	return "$1"
}
debugged() { # gdb runs the commands up to -- on the tool with the words after them, and lets it end
	need gdb && export ASAN_OPTIONS=${ASAN_OPTIONS-}:detect_leaks=0 && local ex=()
	while [ "$1" != -- ]; do ex+=(-ex "$1") && shift; done
	"${wrap[@]}" gdb -q -batch -ex 'set logging file /dev/null' -ex 'set logging redirect on' -ex 'set logging enabled on' \
		-ex 'handle SIGINT SIGHUP SIGQUIT SIGTERM SIGBUS nostop noprint pass' "${ex[@]}" -ex continue \
		-ex 'quit $_isvoid($_exitsignal) ? $_exitcode : 128 + $_exitsignal' --args "$nvrst" "${@:2}"
}
at() { debugged "catch syscall $1" "condition \$bpnum $2" run "${@:3}"; } # gdb stops at the system calls $1 when $2 holds
# the link to the device is turned to $1 as it is opened (open or openat), and to $2 right after
swapped() { at 'open openat' "\$_streq((char *) (\$orig_rax == 2 ? \$rdi : \$rsi), \"$T/link\")" "shell ln -sfn '$1' '$T/link'" continue \
	"shell ln -sfn '$2' '$T/link'" delete -- "${@:3}"; }
sent() { # another process sends the signals $1 when gdb stops at the system call $2 and $3 holds; gdb goes on as told
	at "$2" "$3" "python import os; p = gdb.selected_inferior().pid; [os.kill(p, s) for s in [$1] if p]" delete "${@:4}"; }
# where the bus-error handler is put in place, where SIGBUS is held back again after the command, and where a store
# holds signals back (a set holding SIGTERM)
armed='$rdi == 7 && *(long *) $rsi > 1' after='$rdi == 0 && !$rdx && *(long *) $rsi == 64'
hold='$rdi == 0 && *(long *) $rsi >> 14 & 1'
# a SIGBUS coded as the kernel's for a faulting access (BUS_ADRERR) arrives at the system call $1 when $2 holds
faulted() { sent 7 "$1" "$2" 'handle SIGBUS stop' continue 'set $_siginfo.si_code = 2' "${@:3}"; }
ns() { # $1 runs first in a mount namespace of the case's own, whose mounts end with it
	need mount && { unshare -m true 2>/dev/null || skip "mount namespaces are not allowed"; } &&
		unshare -m sh -c "$1"' && exec "$@"' "$T" "${@:2}"; }
nonull() { LD_PRELOAD= ns 'mount --bind "$0/nodev" /dev/null' timeout 20 stdbuf -o0 "$nvrst" "$@"; } # no /dev/null to hold a closed stream
apart() { # the link's node and the file swapped in lie on two fresh file systems, as inode 2 of each
	wrap=(ns 'mkdir "$0/a" "$0/b" && mount -t tmpfs a "$0/a" && mount -t tmpfs b "$0/b" && mknod "$0/a/zero" c 1 5 &&
		truncate -s 2M "$0/b/x" && ln -sfn "$0/a/zero" "$0/link"') && swapped "$T/b/x" "$T/b/x" "$@"; }
blocked() { pl 'use POSIX; sigprocmask(SIG_BLOCK, POSIX::SigSet->new(SIGBUS)); kill BUS => $$' "$@"; } # and one pending
dead() { pl '$SIG{PIPE} = "DEFAULT"; pipe R, W; close R; open STDOUT, ">&W"' "$@"; } # standard output's reader is gone
fsz() { (ulimit -f 1 && exec "$nvrst" "$@" >"$T/x"); } # standard output may take 1 KiB

c() { # how, device and words, status, word=bytes, stdout, stderr
	local how=$1 change=$4
	rm -f "$T/skip" && ln -sfn "$Z" "$T/link" && cp "$T/pristine" "$image" && cp "$T/pristine" "$T/board" &&
		printf 'status %s\n%b\n-- stderr\n%b' "$3" "$5" "$6" >"$T/want" && eval "set -- $2"
	[[ $image != "$T/image" || " $* " != *" $B "* ]] || echo "this build runs no board" >"$T/skip"
	[[ -z $emu || $how == run* ]] || echo "under an emulator only plain runs" >"$T/skip"
	[ "$change" = - ] || printf "$(sed 's/../\\x&/g' <<<"${change#*=}")" |
		dd of="$T/board" bs=1 seek=$((0x120000 + 4 * ${change%=*})) conv=notrunc status=none
	[ -s "$T/skip" ] || (eval "$how \"\$@\"") >"$T/out" 2>"$T/err"
	{ echo "status $?" && cat "$T/out" && printf '\n-- stderr\n' && cat "$T/err"; } >"$T/got"
	if [ -s "$T/skip" ]; then echo "skipped line ${BASH_LINENO[0]}: $how $*: $(<"$T/skip")" && ((++skipped))
	elif cmp -s "$T/want" "$T/got" && cmp -s "$T/board" "$image"; then ((++passed))
	else
		echo "FAILED line ${BASH_LINENO[0]}: $how $*" && ((++failed)) && diff -U2 --label expected --label got "$T/want" "$T/got"
		cmp -l "$T/board" "$image" | head -4 | while read -r at a b; do
			printf 'board byte 0x%X: expected %02X, got %02X\n' $((at - 1)) $((8#$a)) $((8#$b)); done
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
emfile=$(grep -qa 'No file descriptors available' "$nvrst" && echo 'No file descriptors available' || echo 'Too many open files')
changed="File $T/link changed while it was being opened\n" busy="Device $B is in use by another process; gave up after 5 seconds\n"
guard='Failed to guard the NVSRAM window against device faults\n' eperm='Operation not permitted\n'
trace="openat(AT_FDCWD, \"$Z\", O_RDWR|O_NOCTTY) = fd\n"
trace+='mmap(NULL, 131072, PROT_READ|PROT_WRITE, MAP_SHARED, fd, 0x120000)\nmunmap(window, 131072)\nclose(fd)\n'

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
c 'mknod "$T/block" b 7 0 2>/dev/null || skip "mknod is not allowed" && run' '"$T/block" H'  255  -  '' "File $T/block is not a character device\n"
c run            '"$T/link" hidden'            0  -  "$full_u" ''
c 'nobody 755'    '/dev/kmsg H'               255  -  '' 'Failed to open device: /dev/kmsg\nopen: Permission denied\n'
c suid           "$Z H"                      255  -  '' 'Refusing to run set-user-ID or with gained privileges\n'
c few_fds        "$Z H"                      255  -  '' "Failed to open device: $Z\nopen: $emfile\n"
c 'swapped "$T/board" "$T/board"' '"$T/link" vmin 4500'  255  -  '' "$changed"
c 'swapped "$image" "$Z"' '"$T/link" vmin 4500'  255  -  '' "$changed"
c apart          '"$T/link" vmin 4500'       255  -  '' "$changed"
c 'held 1 -x'    "$B vmin 4500"                0  272=00001194  "$vmin_set" ''
c 'held 12 -s'   "$B vmin 4500"              255  272=11111111  '' "$busy"
c 'at flock 1 continue "set \$rax = -37" --' "$Z H"  255  -  '' "Failed to lock device: $Z\nflock: No locks available\n"
c 'at munmap "\$rsi == 131072" "shell flock -n $Z true || echo locked >&2" delete "signal SIGBUS" >/dev/null --' "$Z H"  135  -  '' 'locked\n'
c run            '/dev/null H'               255  -  'mmap error\n' ''
c 'run >/dev/zero' "$Z H"                    255  -  '' "Standard output is the device $Z itself\n"
c 'run 2<>"$B"'  "$B vmin 4500"              255  -  '' ''
c run            "$Z dump"                   255  -  '[256] : FFFFFFFF\n' "$bus"
c blocked        "$Z cap 8"                  255  -  'Setting capacitance to 8 F\n' "$bus"
# signals: none lands between two bytes of a word; a SIGBUS is a fault of the device only while the command runs
c 'sent "1, 2, 3, 15" rt_sigprocmask "$hold" --' "$B vmin 4500"  129  272=00001194  "$vmin_set" ''
c 'sent 7 rt_sigprocmask "$hold" --' "$B vmin 4500"  135  272=00001194  "$vmin_set" ''
c 'sent 15 rt_sigprocmask "$hold" --' "$Z cap 8"  143  -  'Setting capacitance to 8 F\n' "$bus"
c 'faulted rt_sigaction "$armed" --' "$Z H"  255  -  '' "$bus"
c 'faulted rt_sigprocmask "$after" >/dev/null --' "$Z H"  135  -  '' ''
c 'at rt_sigaction "$armed" continue "set \$rax = -1" --' "$B vmin 4500"  255  -  '' "${guard}sigaction: $eperm"
c 'at rt_sigprocmask "$hold" continue "set \$rax = -1" --' "$B vmin 4500"  255  -  "$vmin_set" \
	"Failed to hold signals back for the store\nsigprocmask: $eperm"
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
c run            "$B cap 0x1g"               255  -             ''  "Invalid number '0x1g'\n"
c run            "$B cap 0xG"                255  -             ''  "Invalid number '0xG'\n"
c run            "$B dump"                     0  -             "$area"  ''
# a closed standard stream never lets the device take its place; lost output is a failure, and stops a store
c 'shut="<&- >&- 2>&-" traced' "$Z H"       255  -             ''  "$trace"
c 'run >&-'      "$B vmin 4500 4600"           1  -             ''  'Too many arguments for vmin\n'
c 'nonull >&-'   "$Z H"                      255  -             ''  "${lost}Bad file descriptor\n"
c 'nonull 2>&-'  "$Z H"                        0  -             "$full_u"  ''
c 'nonull <&- 2>&-' "$Z H"                     0  -             "$full_u"  ''
c dead           "$B vmin 4500"              255  -             ''  "${lost}Broken pipe\n"
c fsz            "$B dump"                   255  -             ''  "${lost}File too large\n"

echo "end-to-end: $passed passed, $failed failed, $skipped skipped"
[ "$failed" = 0 ]
