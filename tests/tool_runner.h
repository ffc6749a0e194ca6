// Runs the real nvrst binary, directly or on the emulated board, and captures
// what it printed on each stream and how it ended.
#pragma once

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

struct run_result {
	std::string out;
	std::string err;
	int status; // exit status, or 128 + signal number
};

inline std::string read_file(const std::string &path)
{
	std::ifstream in(path, std::ios::binary);
	return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

inline void write_file(const std::string &path, const std::string &bytes)
{
	std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

inline bool on_path(const char *program)
{
	const std::string cmd = std::string("command -v ") + program + " >/dev/null 2>&1";
	return std::system(cmd.c_str()) == 0;
}

// A scratch directory, removed with everything in it when the test ends.
class scratch_dir {
public:
	scratch_dir()
	{
		char tmpl[] = "/tmp/nvrst-test.XXXXXX";
		path_ = mkdtemp(tmpl);
		chmod(path_.c_str(), 0755); // an unprivileged user must reach it too
	}
	~scratch_dir() { std::system(("rm -rf '" + path_ + "'").c_str()); }
	scratch_dir(const scratch_dir &) = delete;
	scratch_dir &operator=(const scratch_dir &) = delete;
	std::string operator/(const std::string &name) const { return path_ + "/" + name; }

private:
	std::string path_;
};

struct run_options {
	// Where the tool's standard output goes: empty captures it, "-" leaves
	// descriptor 1 closed, anything else is a path opened for writing.
	std::string stdout_to;
};

// Runs `program` with exactly the argument vector `args` (args[0] included,
// so the name the tool sees is under the test's control).
inline run_result run_program(const std::string &program, const std::vector<std::string> &args,
			      const run_options &opt = {})
{
	scratch_dir dir;
	const std::string out_path = dir / "stdout", err_path = dir / "stderr";
	std::vector<char *> argv;
	for (const std::string &a : args)
		argv.push_back(const_cast<char *>(a.c_str()));
	argv.push_back(nullptr);

	const pid_t pid = fork();
	if (pid == 0) {
		int out = -1;
		if (opt.stdout_to.empty())
			out = open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
		else if (opt.stdout_to != "-")
			out = open(opt.stdout_to.c_str(), O_WRONLY);
		const int err = open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
		if (out >= 0)
			dup2(out, 1);
		else
			close(1);
		dup2(err, 2);
		execv(program.c_str(), argv.data());
		_exit(127);
	}
	int wstatus = 0;
	waitpid(pid, &wstatus, 0);
	const int status = WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : 128 + WTERMSIG(wstatus);
	return {read_file(out_path), read_file(err_path), status};
}

inline const std::string nvrst_bin = NVRST_BIN;
inline const std::string on_board_bin = NVRST_ON_BOARD;

// nvrst run directly, with "nvrst" as its program name.
inline run_result run_nvrst(const std::vector<std::string> &args, const run_options &opt = {})
{
	std::vector<std::string> argv{"nvrst"};
	argv.insert(argv.end(), args.begin(), args.end());
	return run_program(nvrst_bin, argv, opt);
}

// Board memory as the driver maps it: the window starts 0x120000 bytes in.
inline constexpr std::size_t board_image_size = 0x140000;
inline constexpr std::size_t window_offset = 0x120000;

// nvrst on the emulated board whose memory is the image file `image`, with
// /dev/nvsram0 as the device: `run_on_board(img, {"dump"})`.
inline run_result run_on_board(const std::string &image, const std::vector<std::string> &args,
			       const run_options &opt = {})
{
	std::vector<std::string> argv{"on-board", "-i", image, "nvrst", "/dev/nvsram0"};
	argv.insert(argv.end(), args.begin(), args.end());
	return run_program(on_board_bin, argv, opt);
}

// The run printed exactly `out` and `err` and ended with `status`.
inline void expect_run(const run_result &r, const std::string &out, const std::string &err, int status)
{
	EXPECT_EQ(r.out, out);
	EXPECT_EQ(r.err, err);
	EXPECT_EQ(r.status, status);
}

#define SKIP_WITHOUT(program)                                                                                          \
	do {                                                                                                           \
		if (!on_path(program))                                                                                 \
			GTEST_SKIP() << program << " is not installed";                                                \
	} while (0)
