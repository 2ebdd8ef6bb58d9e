#pragma once
// One connected group of same-coloured cells.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "field/position.hpp"
#include "inline_vector.hpp"
#include "puyotype.hpp"

namespace tavik {

// The cells of a group. A chain's trigger holds one to three cells: kept inline,
// a find costs no allocation for them.
using GroupCells = InlineVector<Position, 3>;

struct Connection {
    // Cells in the order the producer found them; absent when it does not record cells.
    std::optional<GroupCells> positions;
    std::uint64_t size = 0;
    PuyoType puyotype;

    std::string debug() const;
};

using ConnectionList = std::vector<Connection>;

std::string debug_list(const ConnectionList& connections);

}  // namespace tavik
