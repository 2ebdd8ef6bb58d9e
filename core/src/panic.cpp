#include "panic.hpp"

namespace tavik {

void panic(std::string text) { throw Panic(std::move(text)); }

void panic_not_implemented() { panic("not implemented"); }

void panic_index_out_of_bounds(std::uint64_t len, std::uint64_t index) {
    panic("index out of bounds: the len is " + std::to_string(len) + " but the index is " + std::to_string(index));
}

void panic_slice_end(std::uint64_t end, std::uint64_t len) {
    panic("range end index " + std::to_string(end) + " out of range for slice of length " + std::to_string(len));
}

void panic_unwrap_none() { panic("called `Option::unwrap()` on a `None` value"); }

}  // namespace tavik
