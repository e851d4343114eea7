#include "module/version.h"

#include <Python.h>

#include "module/state.h"

namespace wsh {

std::uint32_t parse_version(const char* text) noexcept {
    std::uint32_t factor = 1u << 24;
    std::uint32_t sum = 0;
    const char* p = text;
    while (true) {
        std::uint32_t number = 0;
        for (; *p >= '0' && *p <= '9'; ++p) number = number * 10u + static_cast<std::uint32_t>(*p - '0');
        sum += number * factor;
        if (*p != '.') break;
        ++p;
        factor >>= 8;
        if (factor == 0) break;
    }
    return sum;
}

int warn_on_version_mismatch(std::uint32_t runtime) {
    constexpr std::uint32_t compiled = static_cast<std::uint32_t>(PY_MAJOR_VERSION) << 24 |
                                       static_cast<std::uint32_t>(PY_MINOR_VERSION) << 16;
    if ((runtime & 0xFFFF0000u) == compiled) return 0;
    char message[200];
    PyOS_snprintf(message, sizeof message,
                  "compile time Python version %d.%d of module '%.100s' %s runtime version %d.%d",
                  PY_MAJOR_VERSION, PY_MINOR_VERSION, module_full_name, "does not match",
                  static_cast<int>(runtime >> 24), static_cast<int>((runtime >> 16) & 0xFF));
    return PyErr_WarnEx(nullptr, message, 1);
}

int check_runtime_version() {
    std::uint32_t& runtime = loading_statics().runtime_version;
    if (runtime == 0) runtime = parse_version(Py_GetVersion());
    return warn_on_version_mismatch(runtime);
}

}  // namespace wsh
