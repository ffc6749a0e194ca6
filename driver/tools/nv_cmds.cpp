// SPDX-License-Identifier: MIT
// Command handlers: setting and resetting the calibration words, and the dump
// of the whole parameter area; and the check that what they print reached
// standard output.
#include "nvrst.h"
#include "nvsram.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <string_view>

// Values the board accepts, inclusive.
static constexpr u32_t VMIN_LOW = 4500, VMIN_HIGH = 5100; // mV
static constexpr u32_t VTRIM_HIGH = 75;                   // mV
static constexpr u32_t CAP_HIGH = 80;                     // F

// Written by a reset: an erased minimum voltage and no trim.
static constexpr u32_t VMIN_RESET = 0xFFFFFFFFU;
static constexpr u32_t VTRIM_RESET = 0;

static constexpr bool is_digit_of(char c, int base)
{
	if (c >= '0' && c <= '7')
		return true;
	if (c == '8' || c == '9')
		return base >= 10;
	return base == 16 && ((c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'));
}

// How an argument word reads as a number. Only whole words are numbers: 0, a
// decimal number without a leading zero, 0x or 0X and hexadecimal digits, or 0
// and octal digits. No sign, blank or trailing character is allowed.
enum nv_number_t { NV_NUMBER_OK, NV_NUMBER_MALFORMED, NV_NUMBER_TOO_LARGE };

// Converts word into *value. NV_NUMBER_TOO_LARGE: a well-formed number above
// 0xFFFFFFFF, of any length. *value is set only with NV_NUMBER_OK.
[[nodiscard]] static nv_number_t nv_parse_number(const char *word, u32_t *value)
{
	const std::string_view w(word);
	std::string_view digits = w;
	int base = 10;

	if (w.size() > 2 && w[0] == '0' && (w[1] == 'x' || w[1] == 'X')) {
		digits.remove_prefix(2);
		base = 16;
	} else if (w.size() > 1 && w[0] == '0') {
		digits.remove_prefix(1);
		base = 8;
	}
	if (digits.empty())
		return NV_NUMBER_MALFORMED;
	for (char c : digits) {
		if (!is_digit_of(c, base))
			return NV_NUMBER_MALFORMED;
	}

	// The word is now exactly what strtoull's automatic base reads whole;
	// what remains is its size. Beyond 64 bits it yields all ones.
	const unsigned long long v = strtoull(word, nullptr, 0);
	if (v > 0xFFFFFFFFULL)
		return NV_NUMBER_TOO_LARGE;
	*value = static_cast<u32_t>(v);
	return NV_NUMBER_OK;
}

// Reads an argument word that must lie within low..high. Returns 0, or -1
// after writing the refusal: "Invalid number" for a word that is not a
// number, the command's own message for a number outside the range.
static int nv_read_value(const char *word, u32_t low, u32_t high, const char *out_of_range, u32_t *value)
{
	switch (nv_parse_number(word, value)) {
	case NV_NUMBER_OK:
		if (*value >= low && *value <= high)
			return 0;
		break;
	case NV_NUMBER_TOO_LARGE:
		break;
	case NV_NUMBER_MALFORMED:
		fprintf(stderr, "Invalid number '%s'\n", word);
		return -1;
	}
	fputs(out_of_range, stderr);
	return -1;
}

int check_output()
{
	static bool reported;

	if (reported)
		return -1;
	if (fflush(stdout) == 0 && !ferror(stdout))
		return 0;
	const int err = errno;
	reported = true;
	fputs("Failed to write output\n", stderr);
	errno = err;
	perror("write");
	return -1;
}

// Each command writes its word once, after its confirmation has reached
// standard output: a run that is killed right after the store still leaves
// the confirmation behind, and a confirmation that cannot be written stops
// the store. The old value is not read and the word is not read back.
[[nodiscard]] static int nv_store(u32_t word, u32_t value)
{
	if (check_output() != 0)
		return -1;
	nvsram_set(g_nvsram, word, value);
	return 0;
}

int nv_rst_vmin(int argc, char *argv[])
{
	u32_t vmin = VMIN_RESET;

	if (argc <= 0) {
		puts("Resetting minimum charging voltage");
	} else {
		if (nv_read_value(argv[0], VMIN_LOW, VMIN_HIGH, "Voltage value out of range\n", &vmin) != 0)
			return -1;
		printf("Setting minimum charging voltage to %u mV\n", vmin);
	}
	return nv_store(NV_WORD_VMIN, vmin);
}

int nv_rst_vtrim(int argc, char *argv[])
{
	u32_t vtrim = VTRIM_RESET;

	if (argc <= 0) {
		puts("Resetting trim voltage");
	} else {
		if (nv_read_value(argv[0], 0, VTRIM_HIGH, "Trim voltage is high (<= 75 mV)\n", &vtrim) != 0)
			return -1;
		printf("Setting trim voltage to %u mV\n", vtrim);
	}
	return nv_store(NV_WORD_VTRIM, vtrim);
}

// The table guarantees exactly one argument. The message's "mV" is kept as
// the board's operators and their scripts know it.
int nv_set_cap(int, char *argv[])
{
	u32_t cap;

	if (nv_read_value(argv[0], 0, CAP_HIGH, "Capacitor value too high (<= 80 mV)\n", &cap) != 0)
		return -1;
	printf("Setting capacitance to %u F\n", cap);
	return nv_store(NV_WORD_CAP, cap);
}

// Word 256 always shows FFFFFFFF: it lies outside the accessible range.
int nv_dump_all(int, char *[])
{
	for (u32_t i = NVSRAM_FIRST_WORD; i <= NVSRAM_LAST_WORD; i++)
		printf("[%u] : %08X\n", i, nvsram_get(g_nvsram, i));
	return 0;
}
