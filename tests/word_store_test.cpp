// SPDX-License-Identifier: MIT
// The word store on a plain byte array standing in for the window. The static
// and cross builds run without the emulated board, so this is where their
// byte order is proven (s390x is big-endian, the others little-endian).
#include "nvsram.h"

#include <gtest/gtest.h>

#include <array>
#include <csignal>
#include <tuple>

TEST(WordStore, StoresAndLoadsBigEndianInsideTheParameterAreaOnly)
{
	// word, value, first window byte of the word (0: outside the area), its bytes
	const std::tuple<u32_t, u32_t, std::size_t, std::array<u8_t, 4>> cases[] = {
		{257, 0x80000000, 0x404, {0x80, 0x00, 0x00, 0x00}},
		{300, 0x11223344, 0x4B0, {0x11, 0x22, 0x33, 0x44}},
		{256, 0x11223344, 0, {}},
		{384, 0x11223344, 0, {}},
	};
	for (const auto &[offset, data, byte, bytes] : cases) {
		SCOPED_TRACE(offset);
		std::array<u8_t, 0x800> window{};
		std::array<u8_t, 0x800> expected{};
		std::copy(bytes.begin(), byte != 0 ? bytes.end() : bytes.begin(), expected.begin() + byte);
		nvsram_set(window.data(), offset, data);
		EXPECT_EQ(window, expected);
		EXPECT_EQ(nvsram_get(window.data(), offset), byte != 0 ? data : 0xFFFFFFFFU);
	}
}

// A store puts back the signal mask it found: what the caller blocked stays
// blocked, and nothing else is.
TEST(WordStore, LeavesTheCallersSignalMask)
{
	std::array<u8_t, 0x800> window{};
	sigset_t mask;
	sigemptyset(&mask);
	sigaddset(&mask, SIGINT);
	sigprocmask(SIG_BLOCK, &mask, nullptr);
	nvsram_set(window.data(), 300, 1);
	sigprocmask(SIG_BLOCK, nullptr, &mask);
	EXPECT_TRUE(sigismember(&mask, SIGINT) && !sigismember(&mask, SIGTERM));
	sigprocmask(SIG_UNBLOCK, &mask, nullptr);
}
