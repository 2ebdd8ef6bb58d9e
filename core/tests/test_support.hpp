#pragma once
// Helpers shared by the core tests.
#include <string>

#include "panic.hpp"

namespace tavik::testing_support {

// The failure text of the panic `fn` raises, or "<no panic>".
template <class Fn>
std::string panic_text(Fn&& fn) {
    try {
        fn();
    } catch (const Panic& p) {
        return p.text();
    }
    return "<no panic>";
}

}  // namespace tavik::testing_support
