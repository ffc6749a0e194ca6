// End-to-end runs of the calibration commands and the dump on the emulated
// board: what each run prints, how it ends, and the board's bytes afterwards.
#include "tool_runner.h"

#include <cstdio>

namespace {

// Word i of the parameter area holds 0xC0DE0000 + i, so every word differs
// and every word has its top bit set.
std::string distinct_board()
{
	std::string image(board_image_size, '\xff');
	for (unsigned i = 256; i <= 383; i++) {
		const std::size_t at = window_offset + 4 * std::size_t{i};
		image[at] = '\xc0';
		image[at + 1] = '\xde';
		image[at + 2] = static_cast<char>(i >> 8);
		image[at + 3] = static_cast<char>(i & 0xff);
	}
	return image;
}

// The dump of distinct_board(): word 256 is never read and shows all ones.
std::string distinct_dump()
{
	std::string dump;
	char line[32];
	for (unsigned i = 256; i <= 383; i++) {
		std::snprintf(line, sizeof line, "[%u] : %08X\n", i, i == 256 ? 0xFFFFFFFFU : 0xC0DE0000U + i);
		dump += line;
	}
	return dump;
}

// Names the first byte where two images differ, rather than printing both.
testing::AssertionResult same_image(const std::string &actual, const std::string &expected)
{
	if (actual.size() != expected.size())
		return testing::AssertionFailure()
		       << "image size " << actual.size() << ", expected " << expected.size();
	for (std::size_t i = 0; i < actual.size(); i++) {
		if (actual[i] != expected[i])
			return testing::AssertionFailure()
			       << "window byte 0x" << std::hex << i - window_offset << " is 0x" << (actual[i] & 0xff)
			       << ", expected 0x" << (expected[i] & 0xff);
	}
	return testing::AssertionSuccess();
}

struct board_case {
	const char *name;
	std::vector<std::string> args;
	std::string out;
	std::string err;
	int status;
	std::size_t word_byte = 0; // window byte of the one word written, 0: none
	std::string word = {};     // its four bytes afterwards
	run_options opt = {};
};

void run_cases(const std::vector<board_case> &cases)
{
	scratch_dir dir;
	const std::string image = dir / "board.img";
	const std::string before = distinct_board();
	for (const board_case &c : cases) {
		SCOPED_TRACE(c.name);
		write_file(image, before);
		const run_result r = run_on_board(image, c.args, c.opt);
		expect_run(r, c.out, c.err, c.status);

		std::string expected = before;
		if (c.word_byte != 0)
			expected.replace(window_offset + c.word_byte, 4, c.word);
		EXPECT_TRUE(same_image(read_file(image), expected));
	}
}

const std::string range_vmin = "Voltage value out of range\n";
const std::string range_vtrim = "Trim voltage is high (<= 75 mV)\n";
const std::string range_cap = "Capacitor value too high (<= 80 mV)\n";
const std::string lost = "Failed to write output\n";

TEST(Calibration, StoresAcceptedValuesAtTheirWord)
{
	using namespace std::string_literals;
	// clang-format off
	run_cases({
		{"vmin lowest", {"vmin", "4500"}, "Setting minimum charging voltage to 4500 mV\n", "", 0, 0x440,
		 "\x00\x00\x11\x94"s},
		{"vmin highest", {"vmin", "5100"}, "Setting minimum charging voltage to 5100 mV\n", "", 0, 0x440,
		 "\x00\x00\x13\xec"s},
		{"vmin hexadecimal", {"vmin", "0x1194"}, "Setting minimum charging voltage to 4500 mV\n", "", 0, 0x440,
		 "\x00\x00\x11\x94"s},
		{"vmin reset", {"vmin"}, "Resetting minimum charging voltage\n", "", 0, 0x440, "\xff\xff\xff\xff"s},
		{"vtrim", {"vtrim", "40"}, "Setting trim voltage to 40 mV\n", "", 0, 0x43c, "\x00\x00\x00\x28"s},
		{"vtrim highest", {"vtrim", "0X4B"}, "Setting trim voltage to 75 mV\n", "", 0, 0x43c, "\x00\x00\x00\x4b"s},
		{"vtrim reset", {"vtrim"}, "Resetting trim voltage\n", "", 0, 0x43c, "\x00\x00\x00\x00"s},
		{"cap highest", {"cap", "80"}, "Setting capacitance to 80 F\n", "", 0, 0x424, "\x00\x00\x00\x50"s},
		{"cap octal", {"cap", "010"}, "Setting capacitance to 8 F\n", "", 0, 0x424, "\x00\x00\x00\x08"s},
	});
	// clang-format on
}

TEST(Calibration, RefusedValuesLeaveTheBoardUntouched)
{
	// clang-format off
	run_cases({
		{"vmin below", {"vmin", "4499"}, "", range_vmin, 255},
		{"vmin above", {"vmin", "5101"}, "", range_vmin, 255},
		{"vmin octal below", {"vmin", "04500"}, "", range_vmin, 255},
		{"vmin 2^32 + 4500", {"vmin", "4294971796"}, "", range_vmin, 255},
		{"vmin beyond 64 bits", {"vmin", "184467440737095516164500"}, "", range_vmin, 255},
		{"vtrim above", {"vtrim", "76"}, "", range_vtrim, 255},
		{"cap above", {"cap", "81"}, "", range_cap, 255},
		{"vmin trailing letters", {"vmin", "4600abc"}, "", "Invalid number '4600abc'\n", 255},
		{"vmin letters", {"vmin", "abc"}, "", "Invalid number 'abc'\n", 255},
		{"vtrim letters", {"vtrim", "abc"}, "", "Invalid number 'abc'\n", 255},
		{"vtrim minus one", {"vtrim", "-1"}, "", "Invalid number '-1'\n", 255},
		{"cap plus sign", {"cap", "+8"}, "", "Invalid number '+8'\n", 255},
	});
	// clang-format on
}

TEST(Calibration, WrongArgumentCountsWriteNothing)
{
	// clang-format off
	run_cases({
		{"vmin two values", {"vmin", "4500", "4600"}, "\n\tvmin \n\t- Reset calibrated minimum charging voltage\n",
		 "Too many arguments for vmin\n", 1},
		{"cap without value", {"cap"}, "\n\tcap <capacitor value>\n\t- Set capacitance value\n",
		 "Too few arguments for cap\n", 1},
		{"cap two values", {"cap", "8", "9"}, "\n\tcap <capacitor value>\n\t- Set capacitance value\n",
		 "Too many arguments for cap\n", 1},
		{"dump with a word", {"dump", "x"}, "\n\tdumpall \n\t- dump all stored values\n",
		 "Too many arguments for dump\n", 1},
	});
	// clang-format on
}

TEST(Dump, ShowsEveryWordOfTheAreaAndChangesNothing)
{
	const std::string dump = distinct_dump();
	ASSERT_EQ(dump.substr(0, 42), "[256] : FFFFFFFF\n[257] : C0DE0101\n[258] : ");
	// clang-format off
	run_cases({
		{"long word", {"dumpall"}, dump, "", 0},
		{"short word", {"dump"}, dump, "", 0},
	});
	// clang-format on
}

TEST(Dump, ShowsWhatEachCommandStored)
{
	scratch_dir dir;
	const std::string image = dir / "board.img"; // on-board creates it erased
	const std::pair<std::vector<std::string>, std::string> steps[] = {
		{{"vmin", "4500"}, "[272] : 00001194\n"}, {{"vmin"}, "[272] : FFFFFFFF\n"},
		{{"vtrim", "40"}, "[271] : 00000028\n"},  {{"vtrim"}, "[271] : 00000000\n"},
		{{"cap", "0x50"}, "[265] : 00000050\n"},
	};
	for (const auto &[write, line] : steps) {
		SCOPED_TRACE(write[0] + " then dump");
		ASSERT_EQ(run_on_board(image, write).status, 0);
		const run_result r = run_on_board(image, {"dump"});
		EXPECT_EQ(r.status, 0);
		EXPECT_NE(r.out.find(line), std::string::npos) << r.out;
	}
	// Only the trim and capacitance words left the erased state.
	const std::string dump = run_on_board(image, {"dump"}).out;
	std::size_t erased = 0;
	for (std::size_t at = dump.find(": FFFFFFFF\n"); at != std::string::npos;
	     at = dump.find(": FFFFFFFF\n", at + 1))
		erased++;
	EXPECT_EQ(erased, 126U);
}

TEST(Output, LostOutputEndsWithAFailure)
{
	using namespace std::string_literals;
	const run_options full{"/dev/full"};
	const run_options closed{"-"};
	// clang-format off
	run_cases({
		{"dump to a full disk", {"dump"}, "", lost + "write: No space left on device\n", 255, 0, "", full},
		{"dump to a closed descriptor", {"dump"}, "", lost + "write: Bad file descriptor\n", 255, 0, "", closed},
		{"a store already made stays made", {"vtrim", "40"}, "", lost + "write: No space left on device\n", 255,
		 0x43c, "\x00\x00\x00\x28"s, full},
		// Without descriptor 1 the device must not be opened in its place,
		// or the listing printed on the way out would land in the board.
		{"listing never reaches the board", {"vmin", "4500", "4600"}, "", "Too many arguments for vmin\n", 1, 0,
		 "", closed},
	});
	// clang-format on
}

} // namespace
