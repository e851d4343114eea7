// The check of the running interpreter's version against the compiled one.
#pragma once

#include <cstdint>

namespace wsh {

// The version text's leading "major.minor.micro..." packed one byte per
// component from the top (major << 24 | minor << 16 | ...).
std::uint32_t parse_version(const char* text) noexcept;

// Warns if the running interpreter's major.minor differs from the one the
// module was compiled for: 0, or -1 when issuing the warning failed.
int check_runtime_version();

}  // namespace wsh
