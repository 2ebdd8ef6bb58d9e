#pragma once
// The extension's own exception classes. Each is created on first use and
// kept for the life of the process. tavik keeps them off its module;
// tavik_game, built from the same sources, has its own and names them.

#include "python.hpp"
#include <string_view>

namespace tavik::py {

// Base BaseException, so `except Exception` does not swallow internal failures.
PyObject* panic_exception();
// Base RuntimeError; raised without a message.
PyObject* borrow_error();
PyObject* borrow_mut_error();

// Sets PanicException with `text` as its only argument.
void set_panic(std::string_view text);

}  // namespace tavik::py
