#include "chain/chain_finder.hpp"

namespace tavik {

template struct FoundChain<BitField>;
template FoundChainList<BitField> ChainFinder::find_by_extend(const BitField&);
template FoundChainList<BitField> ChainFinder::find_by_extend_recursive(const BitField&, std::uint64_t);
template FoundChainList<BitField> ChainFinder::find_by_removal(const BitField&);
template struct FoundChain<ArrayField>;
template FoundChainList<ArrayField> ChainFinder::find_by_extend(const ArrayField&);
template FoundChainList<ArrayField> ChainFinder::find_by_extend_recursive(const ArrayField&, std::uint64_t);
template FoundChainList<ArrayField> ChainFinder::find_by_removal(const ArrayField&);

}  // namespace tavik
