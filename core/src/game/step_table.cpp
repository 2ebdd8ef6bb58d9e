// The sizes of the step dimensions, from the game's own constants.
#include "game/step_table.hpp"

#include "game/observation.hpp"
#include "hand.hpp"
#include "panic.hpp"

namespace tavik {

std::size_t StepSizes::of(Dim d) const {
    switch (d) {
        case Dim::ENVS: return envs;
        case Dim::PLANES: return colours + 1;  // the colours, then ojama
        case Dim::ROWS: return observation::ROWS;
        case Dim::COLUMNS: return observation::COLUMNS;
        case Dim::VISIBLE: return visible;
        case Dim::PAIR_SLOTS: return 2;  // child, axis
        case Dim::COLOURS: return colours;
        case Dim::ACTIONS: return Hand::COUNT;
    }
    panic("StepSizes::of: unknown dimension");
}

}  // namespace tavik
