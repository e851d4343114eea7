// Owning handle for one strong reference.
//
// Every reference the module owns lives in a Ref, so it is released on every
// path by construction. Conversions are explicit: steal() adopts a new
// reference, borrow() takes a reference of its own to a borrowed pointer, and
// release() hands ownership back to the caller (e.g. as a return value).
// Object records and caches that hold raw fields change them with reset().
#pragma once

#include <Python.h>

#include <utility>

namespace wsh {

class Ref {
public:
    Ref() noexcept = default;
    Ref(const Ref&) = delete;
    Ref& operator=(const Ref&) = delete;
    Ref(Ref&& other) noexcept : ptr_(other.ptr_) { other.ptr_ = nullptr; }

    // Stores the new reference first and releases the old one after, so a
    // destructor that runs Python code never sees a dangling field.
    Ref& operator=(Ref&& other) noexcept {
        PyObject* old = ptr_;
        ptr_ = other.ptr_;
        other.ptr_ = nullptr;
        Py_XDECREF(old);
        return *this;
    }

    ~Ref() { Py_XDECREF(ptr_); }

    [[nodiscard]] static Ref steal(PyObject* p) noexcept { return Ref(p); }
    [[nodiscard]] static Ref borrow(PyObject* p) noexcept {
        Py_XINCREF(p);
        return Ref(p);
    }

    [[nodiscard]] PyObject* get() const noexcept { return ptr_; }
    [[nodiscard]] PyObject* release() noexcept { return std::exchange(ptr_, nullptr); }
    // A new reference for the caller, this handle keeps its own.
    [[nodiscard]] PyObject* new_reference() const noexcept {
        Py_XINCREF(ptr_);
        return ptr_;
    }
    void reset() noexcept { *this = Ref(); }

    explicit operator bool() const noexcept { return ptr_ != nullptr; }
    PyObject* operator->() const noexcept { return ptr_; }

private:
    explicit Ref(PyObject* p) noexcept : ptr_(p) {}
    PyObject* ptr_ = nullptr;
};

// A new reference to `p` (null stays null), for a caller that hands it on.
[[nodiscard]] inline PyObject* new_reference(PyObject* p) noexcept {
    Py_XINCREF(p);
    return p;
}

// Stores `value` (a reference the field takes over, or null) into a raw
// field and then releases the field's old value, so code run by that
// release never finds the field pointing at an object being destroyed.
inline void reset(PyObject*& field, PyObject* value = nullptr) noexcept {
    PyObject* old = field;
    field = value;
    Py_XDECREF(old);
}

// Typed access for the common casts.
template <typename T>
[[nodiscard]] inline T* as(const Ref& r) noexcept {
    return reinterpret_cast<T*>(r.get());
}

}  // namespace wsh
