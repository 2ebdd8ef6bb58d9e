// The init of tavik_game._native. It imports tavik first: that import runs
// the processor check before any code built with vector instructions, and
// gives us tavik's own classes.
#include "python.hpp"
#include "game_module.hpp"

namespace {

PyModuleDef native_module = {
    PyModuleDef_HEAD_INIT, "tavik_game._native", nullptr, 0, nullptr, nullptr, nullptr, nullptr, nullptr,
};

}  // namespace

PyMODINIT_FUNC PyInit__native() {
    using namespace tavik::py;
    PyObject* tavik_module = PyImport_ImportModule("tavik");
    if (!tavik_module) return nullptr;
    const bool loaded = load_tavik_types(tavik_module);
    Py_DECREF(tavik_module);
    if (!loaded) return nullptr;
    return entry([] {
        Ref module = Ref::steal(PyModule_Create(&native_module));
        add_rules(module.get());
        add_game(module.get());
        add_garbage(module.get());
        add_numpy_obs(module.get());
        add_selfplay(module.get());
        add_vector_env(module.get());
        add_beam_bot(module.get());
        add_match(module.get());
        add_versus_env(module.get());
        // Named so callers can catch them; distinct from tavik's classes of the same names.
        add_to_module(module.get(), "PanicException", Py_XNewRef(panic_exception()));
        add_to_module(module.get(), "PyBorrowError", Py_XNewRef(borrow_error()));
        add_to_module(module.get(), "PyBorrowMutError", Py_XNewRef(borrow_mut_error()));
        return module.release();
    });
}
