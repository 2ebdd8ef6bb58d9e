#pragma once
// The one way binding files reach the C API: Python.h must come before any
// standard header, and sizes given to "#" formats are Py_ssize_t.
#define PY_SSIZE_T_CLEAN
#include <Python.h>
