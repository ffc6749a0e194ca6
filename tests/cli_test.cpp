// End-to-end runs of nvrst: the command line, the device checks and the order
// of a run. Devices that never need the window (/dev/zero maps but faults on
// access, /dev/null refuses the mapping) stand in where no board is needed.
#include "tool_runner.h"

#include <regex>
#include <sstream>

namespace {

// The one usage snapshot: the default text is its first eight lines.
const std::string full_usage = "\n"
			       "CAUTION: This tool modifies onboard stored values. Using incorrect\n"
			       "values may cause the board to not function properly\n"
			       "\n"
			       "Usage: nvrst <device file> <cmd> [arguments]\n"
			       "Commands:\n"
			       "\tvmin \n"
			       "\t- Reset calibrated minimum charging voltage\n"
			       "\n"
			       "\tvtrim \n"
			       "\t- Reset calibrated trim voltage\n"
			       "\n"
			       "\tcap <capacitor value>\n"
			       "\t- Set capacitance value\n"
			       "\n"
			       "\tdumpall \n"
			       "\t- dump all stored values\n"
			       "\n"
			       "\thidden \n"
			       "\t- print all/hidden commands\n";
const std::string default_usage = full_usage.substr(0, full_usage.find("\n\n\tvtrim") + 1);
const std::string hidden_entry = "\n\thidden \n\t- print all/hidden commands\n";

struct cli_case {
	const char *name;
	std::vector<std::string> args;
	std::string out;
	std::string err;
	int status;
};

void expect_run(const cli_case &c, const run_result &r)
{
	SCOPED_TRACE(c.name);
	expect_run(r, c.out, c.err, c.status);
}

TEST(CommandLine, ShortCommandLinePrintsUsageAndTouchesNoFile)
{
	// clang-format off
	const cli_case cases[] = {
		{"no words", {}, default_usage, "", 255},
		{"device path only", {"/nonexistent/nvsram"}, default_usage, "", 255},
	};
	// clang-format on
	for (const cli_case &c : cases)
		expect_run(c, run_nvrst(c.args));

	// The usage line names the program as it was invoked.
	const run_result r = run_program(nvrst_bin, {"/opt/bin/nvrst"});
	EXPECT_NE(r.out.find("Usage: /opt/bin/nvrst <device file> <cmd> [arguments]\n"), std::string::npos);
}

TEST(CommandLine, MatchesWholeCaseSensitiveWordsOnly)
{
	// clang-format off
	const cli_case cases[] = {
		{"long word", {"/dev/zero", "hidden"}, full_usage, "", 0},
		{"short word", {"/dev/zero", "H"}, full_usage, "", 0},
		{"upper-case long word", {"/dev/zero", "HIDDEN"}, "", "Unknown command 'HIDDEN'\n", 255},
		{"lower-case short word", {"/dev/zero", "h"}, "", "Unknown command 'h'\n", 255},
		{"abbreviation", {"/dev/zero", "hid"}, "", "Unknown command 'hid'\n", 255},
		{"abbreviated long word", {"/dev/zero", "dumpal"}, "", "Unknown command 'dumpal'\n", 255},
		{"upper-case visible word", {"/dev/zero", "VMIN"}, "", "Unknown command 'VMIN'\n", 255},
		{"longer word", {"/dev/zero", "hiddenx"}, "", "Unknown command 'hiddenx'\n", 255},
		{"empty word", {"/dev/zero", ""}, "", "Unknown command ''\n", 255},
	};
	// clang-format on
	for (const cli_case &c : cases)
		expect_run(c, run_nvrst(c.args));

	scratch_dir dir;
	expect_run({"on the emulated board", {}, full_usage, "", 0}, run_on_board(dir / "board.img", {"hidden"}));
}

TEST(CommandLine, RefusesWrongArgumentCountWithTheWordAsTyped)
{
	// clang-format off
	const cli_case cases[] = {
		{"short word, one extra", {"/dev/zero", "H", "x"}, hidden_entry, "Too many arguments for H\n", 1},
		{"long word, two extra", {"/dev/zero", "hidden", "x", "y"}, hidden_entry,
		 "Too many arguments for hidden\n", 1},
	};
	// clang-format on
	for (const cli_case &c : cases)
		expect_run(c, run_nvrst(c.args));
}

TEST(DeviceChecks, RefusesWhatIsNotAWritableCharacterDevice)
{
	scratch_dir dir;
	write_file(dir / "regular", std::string(board_image_size, '\xff'));
	ASSERT_EQ(mkfifo((dir / "fifo").c_str(), 0600), 0);
	ASSERT_EQ(symlink("/dev/zero", (dir / "link").c_str()), 0);
	const std::string missing = dir / "missing";
	ASSERT_EQ(symlink(missing.c_str(), (dir / "dangling").c_str()), 0);

	// clang-format off
	const cli_case cases[] = {
		{"missing path, unknown word not looked at", {missing, "bogus"}, "",
		 "Cannot stat file " + missing + "\nstat: No such file or directory\n", 255},
		{"dangling link", {dir / "dangling", "H"}, "",
		 "Cannot stat file " + dir / "dangling" + "\nstat: No such file or directory\n", 255},
		{"regular file", {dir / "regular", "H"}, "", "File " + dir / "regular" + " is not a character device\n",
		 255},
		{"directory", {dir / "", "H"}, "", "File " + dir / "" + " is not a character device\n", 255},
		{"fifo", {dir / "fifo", "H"}, "", "File " + dir / "fifo" + " is not a character device\n", 255},
		{"device refusing the mapping", {"/dev/null", "H"}, "mmap error\n", "", 255},
		{"link to a character device", {dir / "link", "H"}, full_usage, "", 0},
	};
	// clang-format on
	for (const cli_case &c : cases)
		expect_run(c, run_nvrst(c.args));
}

TEST(DeviceChecks, RefusesCharacterDeviceTheUserMayNotWrite)
{
	// Root may open anything, so as root the tool runs as nobody, from a copy
	// that nobody can execute; any other user is refused as it is.
	const std::vector<std::string> args{"/dev/kmsg", "H"};
	if (geteuid() != 0) {
		expect_run(run_nvrst(args), "", "Failed to open device: /dev/kmsg\nopen: Permission denied\n", 255);
		return;
	}
	SKIP_WITHOUT("setpriv");
	scratch_dir dir;
	const std::string tool = dir / "nvrst";
	write_file(tool, read_file(nvrst_bin));
	ASSERT_EQ(chmod(tool.c_str(), 0755), 0);
	std::vector<std::string> argv{"setpriv", "--reuid=65534", "--regid=65534", "--clear-groups", tool};
	argv.insert(argv.end(), args.begin(), args.end());
	expect_run(run_program("/usr/bin/setpriv", argv), "",
		   "Failed to open device: /dev/kmsg\nopen: Permission denied\n", 255);
}

// An strace of a run, reduced to the calls on the device path, its descriptor
// and its mapping, shows the order of a run.
TEST(RunOrder, OpensAndMapsBeforeLookingAtTheWordAndUnmapsBeforeClosing)
{
	SKIP_WITHOUT("strace");
	scratch_dir dir;
	const std::string log = dir / "trace";
	// LeakSanitizer cannot run under ptrace; elsewhere the variable is unused.
	const run_result r =
		run_program("/usr/bin/strace", {"strace", "-o", log, "-E", "ASAN_OPTIONS=detect_leaks=0", "-e",
						"trace=stat,lstat,newfstatat,statx,open,openat,mmap,munmap,close,write",
						nvrst_bin, "/dev/zero", "bogus"});
	ASSERT_EQ(r.status, 255) << r.err;

	std::istringstream lines(read_file(log));
	std::vector<std::string> calls;
	std::string fd = "?";
	std::string addr = "?";
	std::smatch m;
	for (std::string line; std::getline(lines, line);) {
		if (std::regex_search(line, m, std::regex(R"(^open(at)?\(.*"/dev/zero", ([^)]*)\)\s+= (\d+))"))) {
			fd = m[3];
			calls.emplace_back("open " + m[2].str());
		} else if (std::regex_search(line, m, std::regex(R"(^(\w*stat\w*)\(.*"/dev/zero")"))) {
			calls.emplace_back("stat");
		} else if (std::regex_search(line, m, std::regex(R"(^mmap\((.*), )" + fd + R"(, (\w+)\)\s+= (\w+))"))) {
			addr = m[3];
			calls.emplace_back("mmap " + m[1].str() + " offset " + m[2].str());
		} else if (std::regex_search(line, m, std::regex(R"(^write\(2, "Unknown command)"))) {
			calls.emplace_back("message");
		} else if (std::regex_search(line, m, std::regex("^munmap\\(" + addr + ", (\\d+)\\)"))) {
			calls.emplace_back("munmap " + m[1].str());
		} else if (line.rfind("close(" + fd + ")", 0) == 0) {
			calls.emplace_back("close");
		}
	}
	// clang-format off
	const std::vector<std::string> expected{
		"stat",
		"open O_RDWR",
		"mmap NULL, 131072, PROT_READ|PROT_WRITE, MAP_SHARED offset 0x120000",
		"message",
		"munmap 131072",
		"close",
	};
	// clang-format on
	EXPECT_EQ(calls, expected) << read_file(log);
}

} // namespace
