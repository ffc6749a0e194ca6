// In-process tests of the word accessors on a plain byte array standing in
// for the window, and of how argument words read as numbers.
#include "nvrst.h"
#include "nvsram.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdio>

namespace {

using window_t = std::array<u8_t, 0x800>;

// Every byte distinct from its neighbours, so a stray store shows.
window_t patterned_window()
{
	window_t w{};
	for (std::size_t i = 0; i < w.size(); i++)
		w[i] = static_cast<u8_t>(i * 7 + 3);
	return w;
}

TEST(WordStore, StoresBigEndianWithinTheAccessibleRangeOnly)
{
	struct store_case {
		u32_t offset;
		u32_t data;
		std::size_t byte; // first window byte written, or 0 for none
		std::array<u8_t, 4> bytes;
	};
	// clang-format off
	const store_case cases[] = {
		{272, 4500, 0x440, {0x00, 0x00, 0x11, 0x94}},
		{272, 0xFFFFFFFF, 0x440, {0xFF, 0xFF, 0xFF, 0xFF}},
		{300, 0x11223344, 0x4B0, {0x11, 0x22, 0x33, 0x44}},
		{257, 0x80000000, 0x404, {0x80, 0x00, 0x00, 0x00}},
		{383, 0x000000A5, 0x5FC, {0x00, 0x00, 0x00, 0xA5}},
		{256, 0x12345678, 0, {}},
		{384, 0x12345678, 0, {}},
		{0, 0x12345678, 0, {}},
		{0x40000000 + 272, 0x12345678, 0, {}}, // byte address wraps to 0x440
		{0xFFFFFFFF, 0x12345678, 0, {}},
	};
	// clang-format on
	for (const store_case &c : cases) {
		SCOPED_TRACE(testing::Message() << "word " << c.offset << " = " << c.data);
		window_t w = patterned_window();
		window_t expected = w;
		for (std::size_t k = 0; c.byte != 0 && k < 4; k++)
			expected[c.byte + k] = c.bytes[k];
		nvsram_set(w.data(), c.offset, c.data);
		EXPECT_EQ(w, expected);
	}
}

TEST(WordStore, LoadsBigEndianAndShowsWordsOutsideTheRangeAsAllOnes)
{
	window_t w{};
	const auto put = [&w](std::size_t byte, std::array<u8_t, 4> b) {
		for (std::size_t k = 0; k < 4; k++)
			w[byte + k] = b[k];
	};
	put(0x400, {0x00, 0x00, 0x00, 0x00}); // word 256
	put(0x404, {0x80, 0x01, 0x02, 0x03}); // word 257
	put(0x440, {0x00, 0x00, 0x11, 0x94}); // word 272
	put(0x5FC, {0xFE, 0xDC, 0xBA, 0x98}); // word 383
	put(0x600, {0x00, 0x00, 0x00, 0x01}); // word 384

	const std::pair<u32_t, u32_t> cases[] = {
		{256, 0xFFFFFFFF}, {257, 0x80010203}, {272, 4500},
		{383, 0xFEDCBA98}, {384, 0xFFFFFFFF}, {0, 0xFFFFFFFF},
	};
	for (const auto &[offset, value] : cases) {
		SCOPED_TRACE(offset);
		EXPECT_EQ(nvsram_get(w.data(), offset), value);
	}

	// A stored word reads back as stored, top bit included.
	nvsram_set(w.data(), 300, 0xC0DE8001);
	EXPECT_EQ(nvsram_get(w.data(), 300), 0xC0DE8001U);
}

TEST(ArgumentNumbers, AcceptsWholeDecimalHexadecimalAndOctalWordsOnly)
{
	struct number_case {
		const char *word;
		nv_number_t result;
		u32_t value;
	};
	// clang-format off
	const number_case cases[] = {
		{"0", NV_NUMBER_OK, 0},
		{"4500", NV_NUMBER_OK, 4500},
		{"0x1194", NV_NUMBER_OK, 4500},
		{"0X4b", NV_NUMBER_OK, 75},
		{"010", NV_NUMBER_OK, 8},
		{"4294967295", NV_NUMBER_OK, 0xFFFFFFFF},
		{"0xFFFFFFFF", NV_NUMBER_OK, 0xFFFFFFFF},
		{"0x00000000000000000000000001", NV_NUMBER_OK, 1},
		{"4294971796", NV_NUMBER_TOO_LARGE, 0}, // 2^32 + 4500 must not pass as 4500
		{"0x100001194", NV_NUMBER_TOO_LARGE, 0},
		{"18446744073709551616", NV_NUMBER_TOO_LARGE, 0},
		{"999999999999999999999999999999999999", NV_NUMBER_TOO_LARGE, 0},
		{"", NV_NUMBER_MALFORMED, 0},
		{"abc", NV_NUMBER_MALFORMED, 0},
		{"4600abc", NV_NUMBER_MALFORMED, 0},
		{"-1", NV_NUMBER_MALFORMED, 0},
		{"+4500", NV_NUMBER_MALFORMED, 0},
		{" 4500", NV_NUMBER_MALFORMED, 0},
		{"4500 ", NV_NUMBER_MALFORMED, 0},
		{"0x", NV_NUMBER_MALFORMED, 0},
		{"0x 1", NV_NUMBER_MALFORMED, 0},
		{"0xg", NV_NUMBER_MALFORMED, 0},
		{"09", NV_NUMBER_MALFORMED, 0},
		{"1e3", NV_NUMBER_MALFORMED, 0},
		{"0b101", NV_NUMBER_MALFORMED, 0},
	};
	// clang-format on
	for (const number_case &c : cases) {
		SCOPED_TRACE(c.word);
		u32_t value = 0x5A5A5A5A;
		EXPECT_EQ(nv_parse_number(c.word, &value), c.result);
		EXPECT_EQ(value, c.result == NV_NUMBER_OK ? c.value : 0x5A5A5A5A);
	}
}

} // namespace
