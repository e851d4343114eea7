// Storage for process-wide objects that must outlive the interpreter.
//
// The module's state owns references until the process ends. Running their
// destructors at exit would release objects after the interpreter has been
// finalised, so the value is constructed in place and never destroyed.
#pragma once

namespace wsh {

template <typename T>
class NeverDestroyed {
public:
    constexpr NeverDestroyed() : value_() {}
    NeverDestroyed(const NeverDestroyed&) = delete;
    NeverDestroyed& operator=(const NeverDestroyed&) = delete;
    ~NeverDestroyed() {}

    T& get() noexcept { return value_; }

private:
    union {
        T value_;
    };
};

}  // namespace wsh
