// The code objects that the handler's methods carry as __code__.
#pragma once

#include <Python.h>

#include <cstdint>
#include <iterator>

#include "module/state.h"

namespace wsh {

// A code object's shape packed into one word: bits 0-1 positional arguments,
// bit 2 positional-only, bit 3 keyword-only, bits 4-7 local names, bits 8-17
// code flags, bits 18-24 first source line.
constexpr std::uint32_t code_word(unsigned argcount, unsigned posonly, unsigned kwonly,
                                  unsigned nlocals, unsigned flags, unsigned firstlineno) {
    return argcount | posonly << 2 | kwonly << 3 | nlocals << 4 | flags << 8 | firstlineno << 18;
}

// A new code object for `word`, with local names `locals` (as many as the word
// says); an equal local-names tuple already in `dedup` is reused.
PyObject* make_code_object(std::uint32_t word, PyObject* const* locals, PyObject* file_name,
                           PyObject* name, PyObject* dedup);

// Makes the three method code objects into `st`: 0, or -1 with an exception.
int make_code_objects(ModuleState& st);

}  // namespace wsh
