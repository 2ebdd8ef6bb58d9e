#pragma once
// A success-or-error value: core operations report their errors through it
// instead of throwing, and the caller decides what an error means.
#include <utility>
#include <variant>

namespace tavik {

template <class E>
struct Err {
    E error;
};

template <class E>
Err(E) -> Err<E>;

template <class T, class E>
class [[nodiscard]] Result {
public:
    Result(T value) : v_(std::in_place_index<0>, std::move(value)) {}
    Result(Err<E> err) : v_(std::in_place_index<1>, std::move(err.error)) {}

    bool is_ok() const { return v_.index() == 0; }
    bool is_err() const { return v_.index() == 1; }
    explicit operator bool() const { return is_ok(); }

    T& value() & { return std::get<0>(v_); }
    const T& value() const& { return std::get<0>(v_); }
    T&& value() && { return std::get<0>(std::move(v_)); }
    const E& error() const { return std::get<1>(v_); }

private:
    std::variant<T, E> v_;
};

// Success carries nothing.
template <class E>
class [[nodiscard]] Result<void, E> {
public:
    Result() = default;
    Result(Err<E> err) : error_(std::move(err.error)), failed_(true) {}

    bool is_ok() const { return !failed_; }
    bool is_err() const { return failed_; }
    explicit operator bool() const { return is_ok(); }
    const E& error() const { return error_; }

private:
    E error_{};
    bool failed_ = false;
};

}  // namespace tavik
