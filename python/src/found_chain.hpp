#pragma once
// Wraps the finds of a search into a new list of new FoundChain objects.
#include "python.hpp"
#include "chain/chain_finder.hpp"
#include "frame.hpp"

namespace tavik::py {

// Consumes the finds (each object takes its find by move).
PyObject* found_chain_list(FoundChainList<BitField>&& finds);

}  // namespace tavik::py
