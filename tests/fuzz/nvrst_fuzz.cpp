// libFuzzer target: random command and argument words, run through the real
// command matching and handlers on a byte array standing in for the window,
// with random bytes in the parameter area.
//
// Input: the command word, then up to three argument words, one per line,
// ended by an empty line; the bytes after it fill the parameter area.
//
// Checked for every input: a run returns 0 or -1; bytes outside the three
// calibration words never change; at most one word changes, and only when
// the command succeeded.
#include "nvrst.h"
#include "nvsram.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr std::size_t area_begin = NVSRAM_FIRST_WORD * 4;
constexpr std::size_t area_end = (NVSRAM_LAST_WORD + 1) * 4;
constexpr u32_t calibration_words[] = {NV_WORD_CAP, NV_WORD_VTRIM, NV_WORD_VMIN};

bool in_calibration_word(std::size_t byte)
{
	return std::ranges::any_of(calibration_words, [byte](u32_t w) { return byte / 4 == w; });
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
	// The tool's own messages would drown libFuzzer's report, which keeps
	// the stream it took at start-up.
	if (freopen("/dev/null", "w", stdout) == nullptr)
		abort();
	stderr = fopen("/dev/null", "w");
	return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const u8_t *data, std::size_t size)
{
	// Split off the words.
	std::vector<std::string> words;
	std::size_t pos = 0;
	while (pos < size) {
		const u8_t *nl = static_cast<const u8_t *>(memchr(data + pos, '\n', size - pos));
		const std::size_t end = nl != nullptr ? static_cast<std::size_t>(nl - data) : size;
		if (end == pos) {
			pos++;
			break;
		}
		words.emplace_back(reinterpret_cast<const char *>(data + pos), end - pos);
		pos = end + 1;
	}
	if (words.empty() || words.size() > 4)
		return -1;

	// Exactly the bytes the window can reach, so any stray access beyond
	// them is a heap overflow.
	std::vector<u8_t> window(area_end, 0xA5);
	for (std::size_t i = area_begin; i < area_end && pos < size; i++, pos++)
		window[i] = data[pos];
	const std::vector<u8_t> before = window;
	g_nvsram = window.data();

	std::vector<char *> argv;
	for (std::string &w : words)
		argv.push_back(w.data());
	argv.push_back(nullptr);
	const char *cmd = argv[0];
	const int n = static_cast<int>(words.size());

	// A wrong argument count ends the process by design: feed only counts
	// that the matching row accepts.
	for (int i = 0; i < g_nr_cmds; i++) {
		const cmd_option_t &row = g_cmds[i];
		if (strcmp(cmd, row.long_cmd) == 0 || strcmp(cmd, row.short_cmd) == 0) {
			const auto args = static_cast<u32_t>(n - 1);
			if (args < row.min_args || args > row.max_args)
				return -1;
			break;
		}
	}

	// The dispatch of a run, as the tool does it.
	int ret = -1;
	for (u32_t i = 0; i < static_cast<u32_t>(g_nr_cmds); i++) {
		if (check_cmd(i, cmd, n) == 0) {
			ret = g_cmds[i].do_cmd(n - 1, &argv[1]);
			break;
		}
	}

	if (ret != 0 && ret != -1)
		abort();
	std::size_t changed_words = 0;
	for (std::size_t byte = 0; byte < window.size(); byte += 4) {
		if (std::equal(&window[byte], &window[byte + 4], &before[byte]))
			continue;
		if (!in_calibration_word(byte) || ret != 0)
			abort();
		changed_words++;
	}
	if (changed_words > 1)
		abort();
	return 0;
}
