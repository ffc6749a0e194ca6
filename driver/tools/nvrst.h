// SPDX-License-Identifier: MIT
// Command table, usage listing, command handlers and the process-wide state
// that main sets up for them.
#pragma once

#include "types.h"

// A command handler gets the words after the command word (argv[0] is the
// first of them, argc their count) and returns 0 on success or -1 when it
// refused its argument.
using cmd_handler_t = int (*)(int argc, char *argv[]);

// One command row. long_cmd is the only word shown in listings; short_cmd may
// repeat it. min_args and max_args bound the words after the command word,
// inclusively. Hidden rows are listed only by `hidden`.
struct cmd_option_t {
	const char *long_cmd;
	const char *short_cmd;
	const char *desc;
	const char *usage;
	cmd_handler_t do_cmd;
	u32_t min_args;
	u32_t max_args;
	int cmd_hidden;
};

// Command words are compared over at most this many characters.
inline constexpr unsigned CMD_NAME_MAX = 64;

extern const cmd_option_t g_cmds[];
extern const int g_nr_cmds;

extern const char *g_cmd_string; // program name as invoked, for the usage line

// Returns -1 when cmd is not a word of row idx and 0 when it is and argc - 1
// arguments are within the row's bounds. Otherwise it prints the complaint and
// the row's entry and ends the process with status 1.
[[nodiscard]] int check_cmd(u32_t idx, const char *cmd, int argc);
void print_cmd_usage(u32_t cmd_idx, int print_hidden);
void print_usage(int print_hidden);

// Output that never reached standard output (a full disk, a closed
// descriptor, a reader gone) must not pass for success: flushes it and
// returns 0, or -1 after saying so (once a run).
[[nodiscard]] int check_output();

int nv_rst_vmin(int argc, char *argv[]);
int nv_rst_vtrim(int argc, char *argv[]);
int nv_set_cap(int argc, char *argv[]);
int nv_dump_all(int argc, char *argv[]);
int nv_print_hidden(int argc, char *argv[]);
