#pragma once
// Asks for a cache line about to be written, in the state a store needs.
// __builtin_prefetch(p, 1) becomes a read prefetch without -mprfchw, which
// leaves a line the other core holds shared and the store still waiting for
// it; PREFETCHW is a no-op on processors without it.

namespace tavik {

inline void prefetch_for_write(const void* p) { asm volatile("prefetchw %0" : : "m"(*static_cast<const char*>(p))); }

}  // namespace tavik
