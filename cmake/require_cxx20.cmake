# Enables C++ for a build from source, or stops it with what to do instead of
# CMake's generic compiler errors: most users need a C++20 compiler they do
# not have, or a wheel.
string(CONCAT WSH_NO_CXX20_ADVICE
  "Building corvanix-zorvik-workspace-handler from source needs a C++20 compiler "
  "(g++ 10 or newer, or clang++ 10 or newer). Install one (Debian and Ubuntu: "
  "apt-get install g++) and, if it is not the default compiler, name it in CXX "
  "(CXX=g++-12 pip install ...); or install a prebuilt wheel instead: "
  "pip install --only-binary=:all: corvanix-zorvik-workspace-handler")

include(CheckLanguage)
check_language(CXX)
if(NOT CMAKE_CXX_COMPILER)
  message(FATAL_ERROR "No C++ compiler found. ${WSH_NO_CXX20_ADVICE}")
endif()
enable_language(CXX)

# What the sources use of C++20: designated initializers, concepts, <span>.
include(CheckCXXSourceCompiles)
set(CMAKE_REQUIRED_FLAGS "${CMAKE_CXX20_STANDARD_COMPILE_OPTION}")
check_cxx_source_compiles([[
#include <span>
template <typename T> concept Small = sizeof(T) <= 8;
struct Point { int x; int y; };
template <Small T> constexpr int first(std::span<const T> values) { return values[0]; }
int main() {
  constexpr Point p{.x = 1, .y = 2};
  const int values[] = {p.x, p.y};
  return first<int>(values) - 1;
}
]] WSH_COMPILER_HAS_CXX20)
unset(CMAKE_REQUIRED_FLAGS)
if(NOT WSH_COMPILER_HAS_CXX20)
  # Not kept in the cache: the next configure after a compiler upgrade asks again.
  unset(WSH_COMPILER_HAS_CXX20 CACHE)
  message(FATAL_ERROR
    "${CMAKE_CXX_COMPILER} (${CMAKE_CXX_COMPILER_ID} ${CMAKE_CXX_COMPILER_VERSION}) "
    "does not compile C++20. ${WSH_NO_CXX20_ADVICE}")
endif()
