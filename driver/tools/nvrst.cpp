// SPDX-License-Identifier: MIT
// nvrst: reads and writes the calibration values that the board keeps in its
// NVSRAM, through the board driver's character device.
//
// A run is one fixed pass: check the command line, open the device, map the
// NVSRAM window, find and run the command, unmap the window, close the device.
#include "nvrst.h"
#include "nvsram.h"

#include <csetjmp>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <sys/auxv.h>
#include <sys/mman.h>
#include <unistd.h>

// With a standard descriptor closed, the device would be opened in its place
// and messages meant for the operator would be written into the board. Each
// closed one is taken by a path-only descriptor of the root directory, which
// any process can open: writes to it fail, as they would on the closed
// descriptor, and the failure is reported. open() returns the lowest free
// descriptor, so the first one above 2 ends the loop; where even that open
// fails, so does the device's.
static void hold_std_descriptors()
{
	int fd = 0;
	while (fd <= 2) {
		fd = open("/", O_PATH);
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
// printed before still printed, instead of dying. Any SIGBUS while the
// handler is in place counts as such a fault, one pending from the start
// included.
static sigjmp_buf g_window_fault;

static void on_window_fault(int)
{
	siglongjmp(g_window_fault, 1);
}

// Runs the command once the jump point is set, with SIGBUS let through; a
// fault of the window ends it here with -1. The jump keeps the mask of the
// handler, so that signals a store held back wait for the report. No local of
// this frame lives across the jump.
static int run_command(const sigset_t *bus, int argc, char *argv[])
{
	if (sigsetjmp(g_window_fault, 0) != 0) {
		fprintf(stderr, "Device %s failed on access to the NVSRAM window (bus error)\n", g_dev_fname);
		return -1;
	}
	sigprocmask(SIG_UNBLOCK, bus, nullptr);
	return dispatch(argc, argv);
}

// Runs the command with the bus-error handler in place, whatever mask and
// action the run inherited. SIGBUS is held until the jump point is set: one
// already pending, or one that arrives meanwhile, is then reported as a fault
// of the window. The caller's action and mask are put back afterwards.
static int run_guarded(int argc, char *argv[])
{
	sigset_t bus;
	sigset_t mask_before;
	struct sigaction fault = {};
	struct sigaction action_before = {};

	sigemptyset(&bus);
	sigaddset(&bus, SIGBUS);
	fault.sa_handler = on_window_fault;
	sigprocmask(SIG_BLOCK, &bus, &mask_before);
	sigaction(SIGBUS, &fault, &action_before);
	const int ret = run_command(&bus, argc, argv);
	// Held again before the handler goes, so that none can jump back into
	// the finished command: one arriving now meets the caller's action.
	sigprocmask(SIG_BLOCK, &bus, nullptr);
	sigaction(SIGBUS, &action_before, nullptr);
	sigprocmask(SIG_SETMASK, &mask_before, nullptr);
	return ret;
}

int main(int argc, char *argv[])
{
	// An empty argument vector (which the kernel passes on as one empty
	// word) leaves the default name for the usage line.
	if (argc > 0 && argv[0][0] != '\0')
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
