// The check of the running interpreter's version against the compiled one.
#pragma once

#include <cstdint>

namespace wsh {

// The version text's leading "major.minor.micro..." packed one byte per
// component from the top (major << 24 | minor << 16 | ...).
std::uint32_t parse_version(const char* text) noexcept;

// Warns if the packed `runtime` version's major.minor differs from the one
// the module was compiled for: 0, or -1 when issuing the warning failed.
int warn_on_version_mismatch(std::uint32_t runtime);

// The check for the running interpreter (its version is parsed once).
int check_runtime_version();

}  // namespace wsh
