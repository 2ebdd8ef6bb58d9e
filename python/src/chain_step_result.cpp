// ChainStepResult: one step's chain number, and its score computed on each read.
#include "python.hpp"
#include "chain/chain_result.hpp"
#include "classes.hpp"
#include "frame.hpp"

namespace tavik::py {

namespace {

PyObject* chain(PyObject* self) {
    return entry([&] { return to_py(BorrowShared<ChainStepResult>(self)->chain); });
}

PyObject* score(PyObject* self) {
    return entry([&] { return to_py(BorrowShared<ChainStepResult>(self)->score()); });
}

}  // namespace

PyTypeObject* chain_step_result_type() {
    static LazyType lazy;
    return create_once<ChainStepResult>(lazy, "ChainStepResult", "tavik.ChainStepResult", [](PyTypeObject& t) {
        static PyGetSetDef getters[] = {getter<chain>("chain"), getter<score>("score"), END_GETTERS};
        t.tp_getset = getters;
    });
}

}  // namespace tavik::py
