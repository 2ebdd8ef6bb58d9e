#include "chain/chain_finder.hpp"

namespace tavik {

template struct FoundChain<ArrayField>;
template FoundChainList<ArrayField> ChainFinder::find_by_extend(const ArrayField&);
template FoundChainList<ArrayField> ChainFinder::find_by_extend_recursive(const ArrayField&, std::uint64_t);
template FoundChainList<ArrayField> ChainFinder::find_by_removal(const ArrayField&);

}  // namespace tavik
