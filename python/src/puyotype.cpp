// PuyoType: a namespace of plain int class attributes. IRON has none; code
// that needs it passes 3.
#include "python.hpp"
#include "classes.hpp"
#include "frame.hpp"
#include "puyotype.hpp"

namespace tavik::py {

namespace {
struct NoInstances {};
}  // namespace

PyTypeObject* puyotype_type() {
    static LazyType lazy;
    return create_once<NoInstances>(
        lazy, "PuyoType", "tavik.PuyoType", [](PyTypeObject&) {},
        [](PyTypeObject& t) {
            for (PuyoType p : {PuyoType::EMPTY, PuyoType::OJAMA, PuyoType::WALL, PuyoType::RED, PuyoType::BLUE,
                               PuyoType::YELLOW, PuyoType::GREEN, PuyoType::PURPLE})
                add_class_attribute(&t, "PuyoType", std::string(p.name()).c_str(), to_py(std::uint64_t{p.number()}));
        });
}

}  // namespace tavik::py
