// The two handles that say who owns a reference.
//
// Rules of use:
//   1. A function giving a new reference returns Ref; one giving a borrowed one, Borrowed.
//   2. Raw PyObject* only at slot and C-API edges: steal() adopts, release() hands back.
//   3. A borrowed object kept across code that may drop it is held by Ref::borrow().
//
// Object records and caches that hold raw fields change them with reset().
#pragma once

#include <Python.h>

#include <utility>

namespace wsh {

// A borrowed reference: the object is kept alive by someone else (a
// table, a cache, the caller) and nothing here releases it. It passes to
// C-API calls as it is; Ref::borrow() takes a reference of one's own before
// code runs that could drop the owner's.
class Borrowed {
public:
    constexpr Borrowed() noexcept = default;
    constexpr explicit Borrowed(PyObject* p) noexcept : ptr_(p) {}

    [[nodiscard]] constexpr PyObject* get() const noexcept { return ptr_; }
    constexpr operator PyObject*() const noexcept { return ptr_; }
    PyObject* operator->() const noexcept { return ptr_; }

private:
    PyObject* ptr_ = nullptr;
};

// Owning handle for one strong reference, released on every path by
// construction.
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
    // A borrowed reference is not ours to adopt.
    static Ref steal(Borrowed) = delete;
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
