// SPDX-License-Identifier: MIT
// Device window and word store: where the NVSRAM window lies in the board
// driver's device, where the calibration words lie in it, and the accessors
// that read and write single big-endian 32-bit words.
#pragma once

#include "types.h"

#include <cstddef>

// The board driver maps its NVSRAM at this offset of the device; the tool
// maps a 128 KiB window of it, read/write and shared.
inline constexpr std::size_t NVSRAM_WINDOW_SIZE = 0x20000;
inline constexpr long NVSRAM_WINDOW_OFFSET = 0x120000;

// Word indices (a word is 4 bytes; byte address = index * 4). The parameter
// area is words 256 to 383; the accessors reach only 257 to 383.
inline constexpr u32_t NVSRAM_FIRST_WORD = 256;
inline constexpr u32_t NVSRAM_LAST_WORD = 383;
inline constexpr u32_t NV_WORD_CAP = 265;
inline constexpr u32_t NV_WORD_VTRIM = 271;
inline constexpr u32_t NV_WORD_VMIN = 272;

// Set up by main for the run: the device path, its descriptor and the base of
// the mapped window. Handlers use only the window base.
extern const char *g_dev_fname;
extern int g_devfd;
extern u8_t *g_nvsram;

static_assert(NVSRAM_LAST_WORD * 4 + 3 < NVSRAM_WINDOW_SIZE, "parameter area lies inside the window");

// Checks that devfile is a character device (following symbolic links),
// takes that node with a path-only descriptor, checks that it is the node
// examined and may be opened (never a watchdog, a terminal, the machine's
// memory, persistent memory or a framebuffer, nor a node whose driver cannot
// be told), opens it for reading and writing through that descriptor, makes
// sure it is neither standard output nor standard error, and takes the
// device's exclusive lock, waiting a few seconds at most for another run to
// finish; the descriptor goes to *devfd. Returns 0, or nonzero after printing
// why on standard error (and closing what it opened).
[[nodiscard]] int open_dev_file(const char *devfile, int *devfd);

// Range-guarded accessors: only words 257 to 383 are touched. A store outside
// them is dropped and a load outside them yields 0xFFFFFFFF.
void nvsram_set(u8_t *nvsram, u32_t offset, u32_t data);
[[nodiscard]] u32_t nvsram_get(const u8_t *nvsram, u32_t offset);

// Unguarded big-endian store and load of word `offset`, one byte-wide volatile
// access per byte in ascending address order. Every signal but SIGBUS waits
// until a store has written its last byte, and a store leaves the signal mask
// as it found it.
void nvsram_set_dword(u8_t *nvsram, u32_t offset, u32_t data);
[[nodiscard]] u32_t nvsram_get_dword(const u8_t *nvsram, u32_t offset);
