// SPDX-License-Identifier: MIT
// Device window and word store: checking and opening the device node, and the
// word accessors on the mapped NVSRAM window.
#include "nvsram.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <string_view>
#include <sys/file.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/sysmacros.h>
#include <unistd.h>

const char *g_dev_fname;
int g_devfd = -1;
u8_t *g_nvsram;

// A run that holds the device gets this long to finish before another gives
// up on it: runs take milliseconds, so only a stuck one lasts that long.
static constexpr int LOCK_WAIT_SECONDS = 5;
static constexpr int LOCK_POLL_MS = 20;

// Takes the exclusive lock that keeps a second run off the device until this
// one closes it. The wait is measured on the monotonic clock, and the polls
// drop the timer slack the run inherited (a service may hand down seconds of
// it), so that no sleep outlasts the bound. Returns 0, or -1 after saying why.
[[nodiscard]] static int lock_dev_file(const char *devfile, int devfd)
{
	const timespec poll = {0, LOCK_POLL_MS * 1'000'000L};
	timespec start = {};
	bool waiting = false;

	while (flock(devfd, LOCK_EX | LOCK_NB) != 0) {
		if (errno != EWOULDBLOCK) {
			fprintf(stderr, "Failed to lock device: %s\n", devfile);
			perror("flock");
			return -1;
		}
		timespec now = {};
		clock_gettime(CLOCK_MONOTONIC, &now);
		if (!waiting) {
			start = now;
			waiting = true;
			prctl(PR_SET_TIMERSLACK, 1UL);
		}
		const long long waited_ns =
			(now.tv_sec - start.tv_sec) * 1'000'000'000LL + (now.tv_nsec - start.tv_nsec);
		if (waited_ns >= LOCK_WAIT_SECONDS * 1'000'000'000LL) {
			fprintf(stderr, "Device %s is in use by another process; gave up after %d seconds\n", devfile,
				LOCK_WAIT_SECONDS);
			return -1;
		}
		nanosleep(&poll, nullptr);
	}
	return 0;
}

// The file system of /proc, through which a checked node is opened.
static constexpr unsigned long PROC_FS_MAGIC = 0x9fa0;

// Whether descriptor fd is the file that st describes.
static bool is_file(int fd, const struct stat &st)
{
	struct stat fd_st = {};

	return fstat(fd, &fd_st) == 0 && fd_st.st_dev == st.st_dev && fd_st.st_ino == st.st_ino;
}

// Whether descriptor fd is the device: the same file, or another node of the
// same character device.
static bool is_device(int fd, const struct stat &device)
{
	struct stat st = {};

	if (fstat(fd, &st) != 0)
		return false;
	return (st.st_dev == device.st_dev && st.st_ino == device.st_ino) ||
	       (S_ISCHR(st.st_mode) && S_ISCHR(device.st_mode) && st.st_rdev == device.st_rdev);
}

// Opening a watchdog starts it, and a run that closes it again resets the
// machine a few seconds later; opening a serial line raises its modem lines,
// which resets many boards wired to one. The machine's memory, persistent
// memory and framebuffers map as a board does but never are one: a store
// would land in whatever lies at that address. A node whose driver cannot be
// told may be any of these.
static constexpr const char *WATCHDOG = "a watchdog: opening it would start it";
static constexpr const char *TERMINAL = "a terminal: opening it would raise its modem lines";
static constexpr const char *MEMORY = "the machine's memory, never a board";
static constexpr const char *PERSISTENT = "persistent memory, never a board";
static constexpr const char *FRAMEBUFFER = "a framebuffer, never a board";
static constexpr const char *UNKNOWN = "a device that neither /sys nor /proc/devices names";

// What a driver's name says of its nodes: a class in sysfs, or a name in
// /proc/devices, where terminals go by their nodes' names (ttyS, ttyAMA,
// 3270/tty, pts, hvc, /dev/console...). Returns why such a node is refused,
// or nullptr.
static const char *judge_driver(const char *name)
{
	const auto is = [name](const char *other) { return strcmp(name, other) == 0; };

	if (is("watchdog"))
		return WATCHDOG;
	if (std::string_view(name).find("tty") != std::string_view::npos || strncmp(name, "/dev/", 5) == 0 ||
	    is("pts") || is("ptm") || is("pty") || is("hvc") || is("rfcomm"))
		return TERMINAL;
	if (is("dax"))
		return PERSISTENT;
	if (is("graphics") || is("fb"))
		return FRAMEBUFFER;
	return nullptr;
}

// Judges every name that /proc/devices gives character major maj (a major
// may have several). Returns why the node is refused, or nullptr. The file
// is read whole into a buffer of its own: a board binary carries no
// allocator for stdio's.
static const char *judge_major(unsigned maj)
{
	char devices[8192];
	std::size_t len = 0;
	ssize_t n = 0;
	bool named = false;

	const int fd = open("/proc/devices", O_RDONLY | O_CLOEXEC);
	if (fd < 0)
		return UNKNOWN;
	while (len < sizeof devices - 1 && (n = read(fd, devices + len, sizeof devices - 1 - len)) > 0)
		len += static_cast<std::size_t>(n);
	close(fd);
	devices[len] = '\0';

	// The character devices come first, up to a blank line; a line cut off
	// at the end of the buffer is left out.
	for (char *line = devices, *end = nullptr; *line != '\n' && (end = strchr(line, '\n')) != nullptr;
	     line = end + 1) {
		*end = '\0';
		char *name = nullptr;
		const unsigned long listed = strtoul(line, &name, 10);
		if (name != line && listed == maj) {
			named = true;
			if (const char *why = judge_driver(name + strspn(name, " ")))
				return why;
		}
	}
	return named ? nullptr : UNKNOWN;
}

// Why the node with numbers rdev must never be opened, or nullptr. The
// numbers of the machine's memory and of the misc watchdog tell at once;
// otherwise the node's class in sysfs, and where sysfs cannot be read or has
// no entry for the node (a container, an initramfs, a driver without a
// class), the names that /proc/devices gives its major.
static const char *never_opened(dev_t rdev)
{
	const unsigned maj = major(rdev);
	const unsigned min = minor(rdev);
	char link[64];
	char target[256];

	if (maj == 1 && (min == 1 || min == 2 || min == 4))
		return MEMORY;
	if (maj == 10 && min == 130)
		return WATCHDOG;
	snprintf(link, sizeof link, "/sys/dev/char/%u:%u/subsystem", maj, min);
	const ssize_t n = readlink(link, target, sizeof target - 1);
	if (n <= 0)
		return judge_major(maj);
	target[n] = '\0';
	const char *slash = strrchr(target, '/');
	return judge_driver(slash != nullptr ? slash + 1 : target);
}

// Opens for reading and writing the node that the path-only descriptor node
// holds, once it has passed the checks. Returns the descriptor, or -1 after
// saying why.
[[nodiscard]] static int open_checked(const char *devfile, int node, const struct stat &devstat)
{
	if (!is_file(node, devstat)) {
		fprintf(stderr, "File %s changed while it was being opened\n", devfile);
		return -1;
	}
	if (const char *why = never_opened(devstat.st_rdev)) {
		fprintf(stderr, "File %s is %s\n", devfile, why);
		return -1;
	}
	char held[32];
	snprintf(held, sizeof held, "/proc/self/fd/%d", node);
	const int fd = open(held, O_RDWR | O_NOCTTY);
	if (fd < 0) {
		fprintf(stderr, "Failed to open device: %s\n", devfile);
		perror("open");
	}
	return fd;
}

int open_dev_file(const char *devfile, int *devfd)
{
	struct stat devstat = {};

	// stat() follows symbolic links, so a link to the device node is accepted.
	int ret = stat(devfile, &devstat);
	if (ret != 0) {
		fprintf(stderr, "Cannot stat file %s\n", devfile);
		perror("stat");
		return ret;
	}
	if ((devstat.st_mode & S_IFMT) != S_IFCHR) {
		fprintf(stderr, "File %s is not a character device\n", devfile);
		return -1;
	}

	// The path may be swapped for another file at any time (a link replaced
	// in a directory others can write), and opening a node runs its driver.
	// So the path is resolved once, into a path-only descriptor that runs
	// nothing of the driver; that node is checked, and only then opened,
	// through the descriptor, by its entry in /proc.
	struct statfs proc = {};
	if (statfs("/proc/self/fd", &proc) != 0 || static_cast<unsigned long>(proc.f_type) != PROC_FS_MAGIC) {
		fprintf(stderr, "File %s cannot be opened safely: /proc is not mounted\n", devfile);
		return -1;
	}
	const int node = open(devfile, O_PATH | O_CLOEXEC);
	if (node < 0) {
		fprintf(stderr, "Failed to open device: %s\n", devfile);
		perror("open");
		return -1;
	}
	*devfd = open_checked(devfile, node, devstat);
	close(node);
	if (*devfd < 0)
		return -1;

	// What was opened must still be what was checked.
	if (!is_file(*devfd, devstat)) {
		fprintf(stderr, "File %s changed while it was being opened\n", devfile);
		close(*devfd);
		return -1;
	}
	// What the tool prints must never land in the board's memory. With
	// standard error on the device even the refusal would, so it is silent.
	if (is_device(2, devstat) || is_device(1, devstat)) {
		if (!is_device(2, devstat))
			fprintf(stderr, "Standard output is the device %s itself\n", devfile);
		close(*devfd);
		return -1;
	}
	if (lock_dev_file(devfile, *devfd) != 0) {
		close(*devfd);
		return -1;
	}
	return 0;
}

// Word 256 is left out of the accessible range on purpose: it is never read
// or written, and reads of it yield 0xFFFFFFFF.
static constexpr bool nvsram_accessible(u32_t offset)
{
	return offset > NVSRAM_FIRST_WORD && offset <= NVSRAM_LAST_WORD;
}

void nvsram_set(u8_t *nvsram, u32_t offset, u32_t data)
{
	if (nvsram_accessible(offset))
		nvsram_set_dword(nvsram, offset, data);
}

u32_t nvsram_get(const u8_t *nvsram, u32_t offset)
{
	if (nvsram_accessible(offset))
		return nvsram_get_dword(nvsram, offset);
	return 0xFFFFFFFFU;
}

// The window is device memory: each byte is one volatile access, so the
// compiler can neither merge the four into a wider access, reorder them, drop
// one nor serve a load from an earlier copy. The most significant byte comes
// first, whatever the host's byte order.
//
// A signal between two bytes (an operator's Ctrl-C, a hangup, a supervisor's
// TERM) would end the run with the word half old, half new, so every signal
// waits until the last byte is stored, SIGSEGV included: the kernel forces
// one that the store itself raises through the mask. SIGBUS alone stays
// open, since the window's fault must reach its handler.
void nvsram_set_dword(u8_t *nvsram, u32_t offset, u32_t data)
{
	const u32_t byte = offset * 4U;
	volatile u8_t *word = nvsram + byte;
	sigset_t held;
	sigset_t before;

	sigfillset(&held);
	sigdelset(&held, SIGBUS);
	sigprocmask(SIG_BLOCK, &held, &before);
	word[0] = static_cast<u8_t>(data >> 24);
	word[1] = static_cast<u8_t>(data >> 16);
	word[2] = static_cast<u8_t>(data >> 8);
	word[3] = static_cast<u8_t>(data);
	sigprocmask(SIG_SETMASK, &before, nullptr);
}

u32_t nvsram_get_dword(const u8_t *nvsram, u32_t offset)
{
	const u32_t byte = offset * 4U;
	const volatile u8_t *word = nvsram + byte;

	// Each byte is widened to u32_t before shifting, so a top bit never
	// passes through a signed int.
	u32_t data = word[0];
	for (u32_t i = 1; i < 4; i++)
		data = (data << 8) | u32_t{word[i]};
	return data;
}
