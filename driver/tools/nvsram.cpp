// SPDX-License-Identifier: MIT
// Device window and word store: checking and opening the device node, and the
// word accessors on the mapped NVSRAM window.
#include "nvsram.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <ctime>
#include <fcntl.h>
#include <string_view>
#include <sys/file.h>
#include <sys/prctl.h>
#include <sys/stat.h>
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

// Whether descriptor fd is the opened device: the same file, or another node
// of the same character device.
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
// which resets many boards wired to one. Such a node is never opened. Its
// class in sysfs tells, and where sysfs cannot be read, the numbers such
// nodes always have: the misc watchdog, and the terminals' fixed majors.
// Returns why the node is refused, or nullptr.
static const char *never_opened(dev_t rdev)
{
	const unsigned maj = major(rdev);
	const unsigned min = minor(rdev);
	char link[64];
	char target[256];

	snprintf(link, sizeof link, "/sys/dev/char/%u:%u/subsystem", maj, min);
	const ssize_t n = readlink(link, target, sizeof target);
	std::string_view subsystem(target, n > 0 ? static_cast<std::size_t>(n) : 0);
	subsystem.remove_prefix(subsystem.rfind('/') + 1);
	if (subsystem == "watchdog" || (maj == 10 && min == 130))
		return "a watchdog: opening it would start it";
	if (subsystem == "tty" || (maj >= 2 && maj <= 5) || (maj >= 128 && maj <= 143) || maj == 166 || maj == 188 ||
	    maj == 204)
		return "a terminal: opening it would raise its modem lines";
	return nullptr;
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
	if (const char *why = never_opened(devstat.st_rdev)) {
		fprintf(stderr, "File %s is %s\n", devfile, why);
		return -1;
	}

	// A terminal that sysfs and the numbers do not tell never becomes the
	// run's controlling terminal.
	*devfd = open(devfile, O_RDWR | O_NOCTTY);
	if (*devfd < 0) {
		fprintf(stderr, "Failed to open device: %s\n", devfile);
		perror("open");
		return -1;
	}

	// The path may have been swapped for another file since it was checked
	// (a link replaced in a directory someone else can write): the opened
	// file must be the one that was checked.
	struct stat opened = {};
	if (fstat(*devfd, &opened) != 0 || opened.st_dev != devstat.st_dev || opened.st_ino != devstat.st_ino) {
		fprintf(stderr, "File %s changed while it was being opened\n", devfile);
		close(*devfd);
		return -1;
	}

	// What the tool prints must never land in the board's memory. With
	// standard error on the device even the refusal would, so it is silent.
	if (is_device(2, opened) || is_device(1, opened)) {
		if (!is_device(2, opened))
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
