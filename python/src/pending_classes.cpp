// TEMPORARY placeholder so the module imports before FoundChain exists.
// Whoever adds found_chain.cpp deletes it, and this file with it.
#include "classes.hpp"
#include "frame.hpp"

namespace tavik::py {

namespace {
struct Placeholder {};
}  // namespace

PyTypeObject* found_chain_type() {
    static LazyType lazy;
    return create_once<Placeholder>(lazy, "FoundChain", "tavik.FoundChain", [](PyTypeObject&) {});
}

}  // namespace tavik::py
