// SPDX-License-Identifier: MIT
// The command table, matching of a command word with its argument-count
// check, and the usage listing that walks the same table.
#include "nvrst.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string_view>

const char *g_cmd_string = "nvrst";

// Table order is both the matching order and the listing order.
constexpr cmd_option_t g_cmds[] = {
	{"vmin", "vmin", "Reset calibrated minimum charging voltage", "", nv_rst_vmin, 0, 1, 0},
	{"vtrim", "vtrim", "Reset calibrated trim voltage", "", nv_rst_vtrim, 0, 1, 1},
	{"cap", "cap", "Set capacitance value", "<capacitor value>", nv_set_cap, 1, 1, 1},
	{"dumpall", "dump", "dump all stored values", "", nv_dump_all, 0, 0, 1},
	{"hidden", "H", "print all/hidden commands", "", nv_print_hidden, 0, 0, 1},
};
constexpr int g_nr_cmds = static_cast<int>(std::size(g_cmds));

// The bounded compare is whole-word equality only while every word is
// shorter than the bound.
static_assert(std::ranges::all_of(g_cmds,
				  [](const cmd_option_t &row) {
					  return std::string_view(row.long_cmd).size() < CMD_NAME_MAX &&
						 std::string_view(row.short_cmd).size() < CMD_NAME_MAX;
				  }),
	      "command words must be shorter than CMD_NAME_MAX");
static_assert(std::ranges::all_of(g_cmds, [](const cmd_option_t &row) { return row.min_args <= row.max_args; }),
	      "each row's min_args must not exceed its max_args");

int check_cmd(u32_t idx, const char *cmd, int argc)
{
	const cmd_option_t &row = g_cmds[idx];

	if (strncmp(cmd, row.long_cmd, CMD_NAME_MAX) != 0 && strncmp(cmd, row.short_cmd, CMD_NAME_MAX) != 0)
		return -1;

	const auto n = static_cast<u32_t>(argc - 1);
	if (n < row.min_args) {
		fprintf(stderr, "Too few arguments for %s\n", cmd);
		print_cmd_usage(idx, 1);
		exit(1);
	}
	if (n > row.max_args) {
		fprintf(stderr, "Too many arguments for %s\n", cmd);
		print_cmd_usage(idx, 1);
		exit(1);
	}
	return 0;
}

void print_cmd_usage(u32_t cmd_idx, int print_hidden)
{
	const cmd_option_t &row = g_cmds[cmd_idx];

	if (!row.cmd_hidden || print_hidden)
		printf("\n\t%s %s\n\t- %s\n", row.long_cmd, row.usage, row.desc);
}

void print_usage(int print_hidden)
{
	puts("\nCAUTION: This tool modifies onboard stored values. Using incorrect\n"
	     "values may cause the board to not function properly\n");
	printf("Usage: %s <device file> <cmd> [arguments]\n", g_cmd_string);
	printf("Commands:");
	for (u32_t i = 0; i < static_cast<u32_t>(g_nr_cmds); i++)
		print_cmd_usage(i, print_hidden);
}

int nv_print_hidden(int, char *[])
{
	print_usage(1);
	return 0;
}
