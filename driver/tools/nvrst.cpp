// SPDX-License-Identifier: MIT
// nvrst: reads and writes the calibration values that the board keeps in its
// NVSRAM, through the board driver's character device.
//
// A run is one fixed pass: check the command line, open the device, map the
// NVSRAM window, find and run the command, unmap the window, close the device.
#include "nvrst.h"
#include "nvsram.h"

#include <cerrno>
#include <csetjmp>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <sys/auxv.h>
#include <sys/mman.h>
#include <unistd.h>

// With a standard descriptor closed, the device would be opened in its place
// and messages meant for the operator would be written into the board. Each
// closed one is taken by /dev/null opened read-only: writes to it still fail,
// as they would on the closed descriptor, and the failure is reported. open()
// returns the lowest free descriptor, so the first one above 2 ends the loop.
static void hold_std_descriptors()
{
	int fd = 0;
	while (fd <= 2) {
		fd = open("/dev/null", O_RDONLY);
		if (fd < 0)
			return;
	}
	close(fd);
}

// Finds the row of the command word (argv[2]) and runs its handler with the
// words after it. Returns the handler's result, or -1 for an unknown word.
static int dispatch(int argc, char *argv[])
{
	const char *cmd = argv[2];
	const int n = argc - 2;
	int ret = -1;
	u32_t i;

	for (i = 0; i < static_cast<u32_t>(g_nr_cmds); i++) {
		if (check_cmd(i, cmd, n) == 0) {
			ret = g_cmds[i].do_cmd(n - 1, &argv[3]);
			break;
		}
	}
	if (i == static_cast<u32_t>(g_nr_cmds))
		fprintf(stderr, "Unknown command '%s'\n", cmd);
	return ret;
}

// A device that maps the window without backing it with memory (a driver
// that maps less, or a device that is no board at all) raises SIGBUS on the
// first access. The run then ends as a failure of the device, with what was
// printed before still printed, instead of dying. A SIGBUS that a process
// sent is no fault of the window: it does what it does to any process (the
// caller's action: it ends the run, or is ignored), but never between two
// bytes of a word.
static sigjmp_buf g_window_fault;
static struct sigaction g_bus_before;

static void on_window_fault(int, siginfo_t *info, void *)
{
	if (info->si_code > 0) { // raised by the kernel for an access
		g_nvsram_storing = 0;
		siglongjmp(g_window_fault, 1);
	}
	if (g_nvsram_storing) {
		g_nvsram_bus_sent = 1;
		return;
	}
	// SIGBUS is held while this handler runs: the raised one takes effect
	// as it returns.
	if (g_bus_before.sa_handler != SIG_IGN) {
		sigaction(SIGBUS, &g_bus_before, nullptr);
		kill(getpid(), SIGBUS);
	}
}

// Says that the window could not be guarded against device faults, after
// the failed call; returns -1.
static int guard_failed(const char *call)
{
	const int err = errno;
	fprintf(stderr, "Failed to guard the NVSRAM window against device faults\n");
	errno = err;
	perror(call);
	return -1;
}

// Runs the command from the jump point: SIGBUS is let through for it, and
// held back again after it. A fault of the window ends it here with -1. No
// local of this frame lives across the jump.
static int run_command(const sigset_t *bus, int argc, char *argv[])
{
	if (sigsetjmp(g_window_fault, 0) != 0) {
		fprintf(stderr, "Device %s failed on access to the NVSRAM window (bus error)\n", g_dev_fname);
		return -1;
	}
	const int ret =
		sigprocmask(SIG_UNBLOCK, bus, nullptr) != 0 ? guard_failed("sigprocmask") : dispatch(argc, argv);
	sigprocmask(SIG_BLOCK, bus, nullptr);
	return ret;
}

// Runs the command with the bus-error handler and its jump point live while
// the command runs and no longer: SIGBUS is held back until both are in
// place, a SIGBUS pending from before the run is dropped, SIGBUS is let
// through whatever mask the run inherited, and it is held back again before
// the caller's action and mask are put back. Without the handler there is no
// command. Returns the command's result, or -1.
static int run_guarded(int argc, char *argv[])
{
	sigset_t bus;
	sigset_t mask_before;
	struct sigaction drop = {};
	struct sigaction fault = {};
	int ret = -1;

	sigemptyset(&bus);
	sigaddset(&bus, SIGBUS);
	drop.sa_handler = SIG_IGN; // discards a pending SIGBUS
	fault.sa_sigaction = on_window_fault;
	fault.sa_flags = SA_SIGINFO;
	if (sigprocmask(SIG_BLOCK, &bus, &mask_before) != 0)
		return guard_failed("sigprocmask");
	if (sigaction(SIGBUS, &drop, &g_bus_before) != 0 || sigaction(SIGBUS, &fault, nullptr) != 0)
		guard_failed("sigaction");
	else
		ret = run_command(&bus, argc, argv);
	sigaction(SIGBUS, &g_bus_before, nullptr);
	sigprocmask(SIG_SETMASK, &mask_before, nullptr);
	return ret;
}

int main(int argc, char *argv[])
{
	// An empty argument vector leaves the default name for the usage line.
	if (argc > 0)
		g_cmd_string = argv[0];
	hold_std_descriptors();

	// Set-user-ID (or with file capabilities) the tool would open any
	// character device for whoever runs it.
	if (getauxval(AT_SECURE) != 0) {
		fputs("Refusing to run set-user-ID or with gained privileges\n", stderr);
		return -1;
	}
	// Output that cannot be written (a reader gone, a file size limit) is a
	// failure to report, not a signal that ends the run after a store.
	struct sigaction ignore = {};
	ignore.sa_handler = SIG_IGN;
	sigaction(SIGPIPE, &ignore, nullptr);
	sigaction(SIGXFSZ, &ignore, nullptr);

	if (argc <= 2) {
		print_usage(0);
		return -1;
	}

	g_dev_fname = argv[1];
	if (open_dev_file(g_dev_fname, &g_devfd) != 0)
		return -1;

	void *window =
		mmap(nullptr, NVSRAM_WINDOW_SIZE, PROT_READ | PROT_WRITE, MAP_SHARED, g_devfd, NVSRAM_WINDOW_OFFSET);
	if (window == MAP_FAILED) {
		puts("mmap error");
		close(g_devfd);
		return -1;
	}
	g_nvsram = static_cast<u8_t *>(window);

	// The device is open and mapped before the command word is examined.
	int ret = run_guarded(argc, argv);

	munmap(g_nvsram, NVSRAM_WINDOW_SIZE);
	close(g_devfd);

	// A store already made stays made; only the status tells of the loss.
	if (check_output() != 0)
		ret = -1;
	return ret;
}
