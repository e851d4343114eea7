#include "runtime/int_to_str.h"

#include <array>
#include <cstring>

namespace wsh {

namespace {

// "00" "01" ... "99": two digits per division.
constexpr std::array<char, 200> digit_pairs = [] {
    std::array<char, 200> pairs{};
    for (int i = 0; i < 100; ++i) {
        pairs[2 * i] = static_cast<char>('0' + i / 10);
        pairs[2 * i + 1] = static_cast<char>('0' + i % 10);
    }
    return pairs;
}();

}  // namespace

PyObject* int_to_str(std::int64_t value) {
    // 19 digits and a sign for the widest value.
    char buffer[24];
    char* const end = buffer + sizeof buffer;
    char* start = end;
    std::int64_t rest = value;
    int remainder;
    do {
        // The remainder's absolute value, so the smallest value never overflows.
        remainder = static_cast<int>(rest % 100);
        if (remainder < 0) remainder = -remainder;
        rest /= 100;
        start -= 2;
        std::memcpy(start, &digit_pairs[2 * remainder], 2);
    } while (rest != 0);
    if (remainder < 10) ++start;
    if (value < 0) *--start = '-';
    const Py_ssize_t length = end - start;
    if (length == 1) return PyUnicode_FromOrdinal(static_cast<unsigned char>(*start));
    PyObject* text = PyUnicode_New(length, 127);
    if (text == nullptr) return nullptr;
    std::memcpy(PyUnicode_1BYTE_DATA(text), start, static_cast<size_t>(length));
    return text;
}

}  // namespace wsh
