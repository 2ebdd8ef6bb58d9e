#pragma once
// Hints to the processor that change no result: cache lines wanted soon, and
// a pause inside a spin. Plain GCC builtins where they say what is meant; on
// other processors each hint is its nearest equivalent or nothing.

namespace tavik {

// Asks for a cache line about to be written, in the state a store needs. On
// x86-64 __builtin_prefetch(p, 1) becomes a read prefetch without -mprfchw,
// which leaves a line the other core holds shared and the store still waiting
// for it; PREFETCHW is a no-op on processors without it. Elsewhere the builtin
// is a prefetch for store (PRFM PSTL1KEEP on ARM).
inline void prefetch_for_write(const void* p) {
#if defined(__x86_64__)
    asm volatile("prefetchw %0" : : "m"(*static_cast<const char*>(p)));
#else
    __builtin_prefetch(p, 1, 3);
#endif
}

// Asks for a cache line about to be read, into every level.
inline void prefetch_for_read(const void* p) { __builtin_prefetch(p, 0, 3); }

// One step of a busy wait: lets the core's other thread run, and keeps the
// spin from flooding the memory order machinery.
inline void spin_pause() {
#if defined(__x86_64__) || defined(__i386__)
    __builtin_ia32_pause();
#elif defined(__aarch64__)
    asm volatile("yield");
#endif
}

}  // namespace tavik
