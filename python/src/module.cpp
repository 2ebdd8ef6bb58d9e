// The module's init. Built without vector instructions: the processor is
// checked first, and nothing from the other translation units runs before.
#include "python.hpp"
#include "classes.hpp"
#include "cpu_check.hpp"
#include "frame.hpp"

namespace {

PyModuleDef tavik_module = {
    PyModuleDef_HEAD_INIT,
    "tavik",  // m_name
    nullptr,  // m_doc
    0,        // m_size
    nullptr,  // m_methods
    nullptr,  // m_slots
    nullptr,  // m_traverse
    nullptr,  // m_clear
    nullptr,  // m_free
};

constexpr int API_VERSION = 1013;

PyObject* create_module() {
    using namespace tavik::py;
    return entry([] {
        Ref module = Ref::steal(PyModule_Create2(&tavik_module, API_VERSION));
        add_to_module(module.get(), "__doc__", to_py_str(""));
        struct Class {
            const char* name;
            PyTypeObject* (*type)();
        };
        const Class classes[] = {
            {"Field", field_type},
            {"ArrayField", array_field_type},
            {"PuyoType", puyotype_type},
            {"ChainResult", chain_result_type},
            {"ChainStepResult", chain_step_result_type},
            {"Rotation", rotation_type},
            {"Hand", hand_type},
            {"Pair", pair_type},
            {"FoundChain", found_chain_type},
        };
        for (const Class& c : classes) {
            PyObject* type = reinterpret_cast<PyObject*>(c.type());
            add_to_module(module.get(), c.name, Py_NewRef(type));
        }
        return module.release();
    });
}

}  // namespace

PyMODINIT_FUNC PyInit_tavik() {
    if (!tavik::py::check_processor()) return nullptr;
    return create_module();
}
