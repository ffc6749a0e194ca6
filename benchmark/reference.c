// SPDX-License-Identifier: MIT
// The yardstick for what a run of `nvrst DEVICE hidden` should cost: a plain
// C program that makes the same calls (descriptor guard, the privilege
// check, SIGPIPE and SIGXFSZ ignored, stat, open, fstat of the device and
// of standard output and error, flock, mmap, SIGBUS held back while a
// pending one is dropped and its handler is put in place with sigsetjmp and
// taken away after the command, munmap, close) and prints the same text,
// with nothing else. benchmark/cost builds it with the same flags.
#include <fcntl.h>
#include <setjmp.h>
#include <signal.h>
#include <stdio.h>
#include <sys/file.h>
#include <sys/auxv.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

static sigjmp_buf fault;

static void on_fault(int sig, siginfo_t *info, void *context)
{
	(void)sig;
	(void)context;
	if (info->si_code > 0)
		siglongjmp(fault, 1);
}

static const char *const rows[][3] = {
	{"vmin", "", "Reset calibrated minimum charging voltage"},
	{"vtrim", "", "Reset calibrated trim voltage"},
	{"cap", "<capacitor value>", "Set capacitance value"},
	{"dumpall", "", "dump all stored values"},
	{"hidden", "", "print all/hidden commands"},
};

int main(int argc, char *argv[])
{
	struct stat checked, opened, out, err;
	int fd = open("/dev/null", O_RDONLY);

	close(fd);
	if (getauxval(AT_SECURE) != 0)
		return 1;
	signal(SIGPIPE, SIG_IGN);
	signal(SIGXFSZ, SIG_IGN);
	if (argc < 3 || stat(argv[1], &checked) != 0 || !S_ISCHR(checked.st_mode))
		return 1;
	fd = open(argv[1], O_RDWR | O_NOCTTY);
	if (fd < 0 || fstat(fd, &opened) != 0 || opened.st_ino != checked.st_ino)
		return 1;
	if (fstat(2, &err) == 0 && err.st_ino == opened.st_ino && err.st_dev == opened.st_dev)
		return 1;
	if (fstat(1, &out) == 0 && out.st_ino == opened.st_ino && out.st_dev == opened.st_dev)
		return 1;
	if (flock(fd, LOCK_EX | LOCK_NB) != 0)
		return 1;
	void *window = mmap(NULL, 0x20000, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0x120000);
	if (window == MAP_FAILED)
		return 1;
	sigset_t bus, mask;
	struct sigaction drop = {0}, sa = {0}, before;
	sigemptyset(&bus);
	sigaddset(&bus, SIGBUS);
	drop.sa_handler = SIG_IGN;
	sa.sa_sigaction = on_fault;
	sa.sa_flags = SA_SIGINFO;
	sigprocmask(SIG_BLOCK, &bus, &mask);
	sigaction(SIGBUS, &drop, &before);
	sigaction(SIGBUS, &sa, NULL);
	if (sigsetjmp(fault, 0) == 0) {
		sigprocmask(SIG_UNBLOCK, &bus, NULL);
		puts("\nCAUTION: This tool modifies onboard stored values. Using incorrect\n"
		     "values may cause the board to not function properly\n");
		printf("Usage: %s <device file> <cmd> [arguments]\n", argv[0]);
		printf("Commands:");
		for (int i = 0; i < 5; i++)
			printf("\n\t%s %s\n\t- %s\n", rows[i][0], rows[i][1], rows[i][2]);
		sigprocmask(SIG_BLOCK, &bus, NULL);
	}
	sigaction(SIGBUS, &before, NULL);
	sigprocmask(SIG_SETMASK, &mask, NULL);
	munmap(window, 0x20000);
	close(fd);
	return fflush(stdout) != 0 || ferror(stdout);
}
