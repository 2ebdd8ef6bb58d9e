// ChainResult: the chain count and the total score of a whole chain.
#include "python.hpp"
#include "chain/chain_result.hpp"

#include "classes.hpp"
#include "frame.hpp"

namespace tavik::py {

namespace {

PyObject* chain(PyObject* self) {
    return entry([&] { return to_py(BorrowShared<ChainResult>(self)->chain()); });
}

PyObject* score(PyObject* self) {
    return entry([&] { return to_py(BorrowShared<ChainResult>(self)->score()); });
}

}  // namespace

PyTypeObject* chain_result_type() {
    static LazyType lazy;
    return create_once<ChainResult>(lazy, "ChainResult", "tavik.ChainResult", [](PyTypeObject& t) {
        static PyGetSetDef getters[] = {getter<chain>("chain"), getter<score>("score"), END_GETTERS};
        t.tp_getset = getters;
    });
}

}  // namespace tavik::py
