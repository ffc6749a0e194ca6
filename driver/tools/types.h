// SPDX-License-Identifier: MIT
// Fixed-width integer names shared by the nvrst units.
#pragma once

#include <cstdint>

using u8_t = std::uint8_t;
using u32_t = std::uint32_t;
