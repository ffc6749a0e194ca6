#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# End-to-end cases: the real nvrst on a board, and on devices that are no board.
#
#   end-to-end.sh NVRST IMAGE
#
# IMAGE holds the board's memory: the image of on-board -i IMAGE, or the
# reference driver's /dev/nvsram0 itself. Beside /dev/nvsram0 the board has
# nodes the tool must never open: a watchdog (/dev/nvwdt, misc 10:130, and
# /dev/nvwdt0 of the watchdog class), a terminal (/dev/nvtty0, 4:65), the
# machine's memory (/dev/nvmem, 1:1; /dev/port, 1:4, cannot be mapped, and
# /dev/kmem, 1:2, has been gone from Linux since 5.13) and
# persistent memory (/dev/nvdax, of the dax class or major). On the emulated
# board they are umockdev's, in a kernel real nodes.
#
# A case: how it runs ("run" and redirections, or a function below), one run's
# device and words or several runs apart by ";", the exit status of every run
# or of each, the board words that must change with their bytes afterwards (-:
# no byte may change), then stdout and stderr exactly, with printf %b escapes.
# Each case starts on a board whose every byte differs from its neighbours, so
# that a store at the wrong place or with the wrong byte shows. A case that
# cannot be evaluated fails. The cases run in a scratch directory,
# beside "zero", a twin of /dev/zero that no other program holds locked and
# whose window faults, "link" and "l2" to it, "block", a block device, and "u", a node of a major that no driver
# has (42, for samples), which neither sysfs nor /proc/devices names.
nvrst=$(realpath "$1") image=$2 B=/dev/nvsram0
T=$(mktemp -d) && trap 'rm -rf "$T"' EXIT && cd "$T" &&
	perl -e 'print pack "C*", map { $_ % 251 } 0 .. 0x13FFFF' >p && mknod zero c 1 5 && mknod block b 7 0 &&
	mknod u c 42 0 && ln -s zero link && ln -s zero l2 && truncate -s 1K big || exit 77

# standard output unbuffered, so that a failed write is flagged at once
run() { stdbuf -o0 "$nvrst" "$@"; }
# a set-group-ID copy, which gains a group as it starts
setgid() { install -g 65534 -m 2755 "$nvrst" g && LD_PRELOAD= ./g "$@"; }
# standard output may not grow: it is the 1 KiB file "big", and files may not grow beyond 1 KiB
fsz() { (ulimit -f 1 && exec "$nvrst" "$@" >>big); }
# standard input closed, and output too unless $1 = o, and no descriptor above the standard ones may be opened
# (umockdev, which opens some of its own, left out; under the sanitizer one more, which its runtime needs to start);
# what the C library calls the error differs (glibc, musl): only the words before it are kept, of both streams
few() { (exec <&- 3>&- && { [ $1 = o ] || exec >&-; } && ulimit -n $((${ASAN_OPTIONS:+1} + 3)) &&
	LD_PRELOAD= exec timeout 9 "$nvrst" "${@:2}") 2>&1 | cut -d: -f1; }
# the caller blocked SIGINT and SIGBUS, and the signal $1 is pending
pend() { perl -MPOSIX -e 'sigprocmask SIG_BLOCK, POSIX::SigSet->new(2, 7); kill shift, $$; exec @ARGV' "$1" \
	"$nvrst" "${@:2}"; }
# sysfs cannot be read: a tmpfs over it (the emulated board's is umockdev's), as in a container; /proc/devices also
# names the emulated board's watchdog class (241), as a kernel's does (in a kernel, the line is one more)
nosys() {
	unshare -m sh -c 'mount -t tmpfs s "$0/sys" && sed "1a 241 watchdog" /proc/devices >devices &&
		mount -B devices /proc/devices && exec "$@"' "${UMOCKDEV_DIR-}" "$nvrst" "$@"
}
# Another run holds a shared lock on the board for $1 s. The waiting run has 30 s of timer slack, which must not
# stretch its polls, and may not spin: 1.5 s of CPU time at most, where a busy poll takes all of the 5 s (a guest
# under QEMU charges the sound one about 0.5 s, libfaketime's polls being ten times as many). Its wall clock runs ten
# times as fast (libfaketime, which a static program does not load): the wait is measured on the monotonic clock.
held() {
	exec 9<"$image" && flock -s 9 || return
	{ sleep "$1" && flock -u 9; } &
	perl -e 'require "syscall.ph"; syscall &SYS_prctl, 29, 3e10; system @ARGV;
		exit $? >> 8 if (times)[2] + (times)[3] < 1.5; die "spun"' faketime --exclude-monotonic -f '+0 x10' \
		"$nvrst" "${@:2}"
	set -- $? && wait && return "$1"
}
# gdb runs the tool with the words after --, the commands before them on the way, and lets it end; what gdb says
# goes to gdb.txt
debugged() {
	local ex=() && while [ "$1" != -- ]; do ex+=(-ex "$1") && shift; done
	gdb -batch -ex 'set logging redirect on' -ex 'set logging enabled on' \
		-ex 'handle 1-3 11 15 SIGBUS nostop noprint pass' "${ex[@]}" -ex c \
		-ex 'quit $_isvoid($_exitsignal) ? $_exitcode : 128 + $_exitsignal' --args "$nvrst" "${@:2}"
}
# once the path is examined (at the check that /proc is there, a system call named statfs or statfs64), the link $3
# is turned to the board's watchdog at the next system call named $1 or $2
swapped() {
	LD_PRELOAD= debugged 'catch syscall statfs' 'catch syscall statfs64' run delete "catch syscall $1" "catch syscall $2" \
		c delete "shell ln -sfn ${UMOCKDEV_DIR-}/dev/nvwdt0 $3" -- "${@:3}"
}
# once the confirmation is written and the store has held signals back, zero must be locked, and another process
# sends HUP, INT, QUIT, SEGV and TERM (the emulated board reaches the run, not gdb)
sent() {
	debugged 'catch syscall write writev' run c 'catch syscall rt_sigprocmask' c c \
		'shell flock -n zero true || echo locked >&2' \
		'shell for s in 1 2 3 11 15; do pkill -$s -xP $PPID nvrst; done' delete -- "$@"
}

# c how runs status word=bytes stdout stderr: the runs are a device and words, several apart by ";"
set -o pipefail
c() {
	local r g= && cp p "$image" && cp p w && rm -f o e && printf '%b--\n%b' "$5" "$6" >x
	for r in ${4#-}; do perl -0777 -pi -e "vec(\$_, 0x48000 + ${r%=*}, 32) = 0x${r#*=}" w; done
	IFS=';' read -ra r <<<"$2"
	for r in "${r[@]}"; do (eval "$1 $r") >>o 2>>e; g+=" $?"; done
	if cat o - e <<<-- | diff x - >d && [[ $g == " $3" || -z ${g// $3} ]] && cmp w "$image"; then ((++passed))
	else echo "FAILED line $BASH_LINENO: $1 $2:$g" && ((++failed)) && cat d; fi
}

# The parameter area as the dump shows it: big-endian words, word 256 never read.
area=$(perl -0777 -e '$b = <>; printf "[%d] : %08X\n", $_, $_ > 256 ? vec $b, 0x48000 + $_, 32 : ~0 >> 32
	for 256 .. 383' p)
u="\nCAUTION: This tool modifies onboard stored values. Using incorrect\nvalues may cause the board to not function"
u+=" properly\n\nUsage: $nvrst <device file> <cmd> [arguments]\nCommands:\n\tvmin \n\t- Reset calibrated minimum"
u+=" charging voltage\n"
v="$B vmin" t="$B vtrim" k="$B cap" set='Setting minimum charging voltage to' cap='Setting capacitance to'
trim='Setting trim voltage to' r='Voltage value out of range' inv="Invalid number '"
lost='Failed to write output\nwrite: Bad file descriptor\n'
wd='a watchdog: opening it would start it' tty='a terminal: opening it would raise its modem lines'
bus='Device zero failed on access to the NVSRAM window (bus error)\n'

# how         runs: device and words      status  word=bytes     stdout       stderr
# the usage, with the name as invoked and, for an empty argument vector, the default
c ''          "run zero; perl -e 'exec {\$ARGV[0]} ()' \"\$nvrst\""  255  -  "$u${u/"$nvrst"/nvrst}"  ''
c run         'zero dump x; zero cap'         1  -  '\n\tdumpall \n\t- dump all stored values\n\n\tcap <capacitor value>
\t- Set capacitance value\n' 'Too many arguments for dump\nToo few arguments for cap\n'
# the dump of the board as it is; values: the forms of a number, each range at both edges (vmin 4500 is stored in the
# held and sent rows), the resets, the bytes stored (the last value of each word); the hidden commands listed, last
# the "hidden" row, through a link
c run "$B dump; $v 5100; $v; $t 75; $t 0X4A; $t 0; $t; $k 80; $k 0; link H | tail -n 3" 0 \
	"272=FFFFFFFF 271=00000000 265=00000000" "$area\n$set 5100 mV\nResetting minimum charging voltage\n$trim 75 mV
$trim 74 mV\n$trim 0 mV\nResetting trim voltage
$cap 80 F\n$cap 0 F\n\n\thidden \n\t- print all/hidden commands\n" ''
c run "$v 4499; $v 5101; $v 4294971796; $t 76; $k 81; $v 4600abc; $k 08; $k 0x1g; $t -1; $k ''" 255 - '' "$r\n$r\n$r
Trim voltage is high (<= 75 mV)\nCapacitor value too high (<= 80 mV)\n${inv}4600abc'\n${inv}08'\n${inv}0x1g'\n${inv}-1'
$inv'\n"
# the device: checked, opened, locked and mapped, and what its faults give; watchdogs and terminals are never opened
c run 'zero hid; missing x; block H; /dev/nvwdt H; /dev/nvwdt0 H; /dev/nvtty0 H; /dev/null H' 255 - 'mmap error\n' \
	"Unknown command 'hid'\nCannot stat file missing\nstat: No such file or directory
File block is not a character device\nFile /dev/nvwdt is $wd\nFile /dev/nvwdt0 is $wd
File /dev/nvtty0 is $tty\n"
# nor is memory that is no board, nor a node whose driver nothing names; nor, without sysfs, a watchdog of the
# watchdog class or a terminal
c run '/dev/nvmem H; /dev/nvdax H; u H' 255 - '' "File /dev/nvmem is the machine's memory, never a board
File /dev/nvdax is persistent memory, never a board\nFile u is a device that neither /sys nor /proc/devices names\n"
c nosys       '/dev/nvwdt0 H; /dev/nvtty0 H' 255  -  '' "File /dev/nvwdt0 is $wd\nFile /dev/nvtty0 is $tty\n"
c setgid      'zero H'                       255  -  '' 'Refusing to run set-user-ID or with gained privileges\n'
# what is checked is what is opened: the link turned before the node is taken (at the end of statfs) is refused, and
# once it is taken (at the read of its class), the node taken is the one opened
c swapped 'statfs statfs64 link H; readlink readlinkat l2 cap 8'  255  -  "$cap 8 F\n" \
	"File link changed while it was being opened\n${bus/zero/l2}"
# a run waits for another that holds the board, and gives up after 5 s
c held        "1 $v 4500; 8 $v 4600"     '0 255'  272=00001194  "$set 4500 mV\n" \
	"Device $B is in use by another process; gave up after 5 seconds\n"
# signals held back for a store wait for its last byte, or for the report of its fault; those the caller blocked stay
# blocked, and a SIGBUS pending from the caller is reported before anything runs
c sent        "zero cap 8; $v 4500"          139  272=00001194  "$cap 8 F\n$set 4500 mV\n" "locked\n$bus"
c pend        "INT $v 4500; BUS $v 4500"  '0 255'  272=00001194  "$set 4500 mV\n"  "${bus/zero/$B}"
# nothing printed reaches the device: standard output or error on it is refused, and neither closed standard
# streams nor a low limit of descriptors ever let the device take their place; an open that fails ends the run there
c '' 'run zero H >/dev/zero; run $v 4500 2<>$B; few - zero H; few o zero H'  255  - \
	"${f=Failed to open device\nopen\n}$f" 'Standard output is the device zero itself\n'
# output that is lost is a failure, and stops a store
c '' "run $v 4500 <&- >&-; run zero H >&-; fsz $v 4500"  255  -  '' \
	"$lost$lost${lost/Bad file descriptor/File too large}"

echo "end-to-end: $((passed)) passed, $((failed)) failed, 0 skipped"
((!failed))
