#include "runtime/text.h"

#include <array>
#include <cstring>

namespace wsh {

namespace {

// "00" "01" ... "99": two digits per division.
constexpr std::array<char, 200> digit_pairs = [] {
    std::array<char, 200> pairs{};
    for (std::size_t i = 0; i < 100; ++i) {
        pairs[2 * i] = static_cast<char>('0' + i / 10);
        pairs[2 * i + 1] = static_cast<char>('0' + i % 10);
    }
    return pairs;
}();

}  // namespace

Ref int_to_str(std::int64_t value) {
    // 19 digits and a sign for the widest value.
    char buffer[24];
    char* const end = buffer + sizeof buffer;
    char* start = end;
    // The magnitude as unsigned, so the smallest value never overflows and
    // the divisions need no sign fix-ups.
    std::uint64_t rest = value < 0 ? 0 - static_cast<std::uint64_t>(value)
                                   : static_cast<std::uint64_t>(value);
    while (rest >= 100) {
        const std::uint64_t pair = rest % 100;
        rest /= 100;
        start -= 2;
        std::memcpy(start, &digit_pairs[2 * pair], 2);
    }
    if (rest >= 10) {
        start -= 2;
        std::memcpy(start, &digit_pairs[2 * rest], 2);
    } else {
        *--start = static_cast<char>('0' + rest);
    }
    if (value < 0) *--start = '-';
    const Py_ssize_t length = end - start;
    if (length == 1) return Ref::steal(PyUnicode_FromOrdinal(static_cast<unsigned char>(*start)));
    Ref text = Ref::steal(PyUnicode_New(length, 127));
    if (!text) return text;
    std::memcpy(PyUnicode_1BYTE_DATA(text.get()), start, static_cast<size_t>(length));
    return text;
}

}  // namespace wsh
