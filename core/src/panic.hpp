#pragma once
// Internal failures: conditions the library treats as fatal for the current
// operation (an index out of range, an unsupported case). They carry a failure
// text and are the only exception type the core throws.
#include <cstdint>
#include <exception>
#include <string>
#include <utility>

#include "result.hpp"

namespace tavik {

class Panic : public std::exception {
public:
    explicit Panic(std::string text) : text_(std::move(text)) {}
    const char* what() const noexcept override { return text_.c_str(); }
    const std::string& text() const noexcept { return text_; }

private:
    std::string text_;
};

[[noreturn]] void panic(std::string text);
[[noreturn]] void panic_not_implemented();
[[noreturn]] void panic_index_out_of_bounds(std::uint64_t len, std::uint64_t index);
[[noreturn]] void panic_slice_end(std::uint64_t end, std::uint64_t len);
[[noreturn]] void panic_unwrap_none();

inline void check_index(std::uint64_t index, std::uint64_t len) {
    if (index >= len) [[unlikely]]
        panic_index_out_of_bounds(len, index);
}

// Takes the value of a result that must be a success; an error becomes a
// panic whose text embeds the error's debug text, prefixed by `message`.
template <class T, class E>
T expect(Result<T, E> result, const char* message) {
    if (result.is_err()) [[unlikely]]
        panic(std::string(message) + ": " + result.error().debug());
    if constexpr (!std::is_void_v<T>) return std::move(result).value();
}

template <class T, class E>
T unwrap(Result<T, E> result) {
    return expect(std::move(result), "called `Result::unwrap()` on an `Err` value");
}

}  // namespace tavik
