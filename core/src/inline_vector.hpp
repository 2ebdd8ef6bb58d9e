#pragma once
// A vector that keeps its first N elements inside itself, so the common short
// case never allocates; more elements move to the heap.
#include <cstdint>
#include <algorithm>
#include <initializer_list>
#include <new>
#include <utility>
#include <vector>

namespace tavik {

template <class T, std::uint32_t N>
class InlineVector {
public:
    using value_type = T;
    using iterator = T*;
    using const_iterator = const T*;
    static constexpr std::uint32_t INLINE_CAPACITY = N;

    InlineVector() noexcept {}
    InlineVector(std::initializer_list<T> list) { assign(list.begin(), list.end()); }
    InlineVector(const std::vector<T>& list) { assign(list.begin(), list.end()); }
    InlineVector(std::vector<T>&& list) {
        reserve(list.size());
        for (T& c : list) push_back(std::move(c));
    }
    // n elements, the i-th made by make(i): built where it is to live, so an
    // optional<InlineVector> takes it with std::in_place and moves nothing.
    template <class Make>
    InlineVector(std::size_t n, Make&& make) {
        append(n, std::forward<Make>(make));
    }
    InlineVector(const InlineVector& o) { assign(o.begin(), o.end()); }
    InlineVector(InlineVector&& o) noexcept { take(o); }
    InlineVector& operator=(const InlineVector& o) {
        if (this != &o) {
            clear();
            assign(o.begin(), o.end());
        }
        return *this;
    }
    InlineVector& operator=(InlineVector&& o) noexcept {
        if (this != &o) {
            release();
            take(o);
        }
        return *this;
    }
    ~InlineVector() { release(); }

    friend bool operator==(const InlineVector& a, const InlineVector& b) {
        return std::equal(a.begin(), a.end(), b.begin(), b.end());
    }
    friend bool operator==(const InlineVector& a, const std::vector<T>& b) {
        return std::equal(a.begin(), a.end(), b.begin(), b.end());
    }

    std::size_t size() const { return size_; }
    bool empty() const { return size_ == 0; }
    T* data() { return heap_ ? heap_ : slots(); }
    const T* data() const { return heap_ ? heap_ : slots(); }
    iterator begin() { return data(); }
    iterator end() { return data() + size_; }
    const_iterator begin() const { return data(); }
    const_iterator end() const { return data() + size_; }
    T& operator[](std::size_t i) { return data()[i]; }
    const T& operator[](std::size_t i) const { return data()[i]; }
    T& front() { return data()[0]; }
    const T& front() const { return data()[0]; }
    T& back() { return data()[size_ - 1]; }
    const T& back() const { return data()[size_ - 1]; }

    void reserve(std::size_t n) {
        if (n > capacity_) grow(n);
    }
    void push_back(const T& c) { emplace_back(c); }
    void push_back(T&& c) { emplace_back(std::move(c)); }
    template <class... Args>
    T& emplace_back(Args&&... args) {
        if (size_ == capacity_) grow(capacity_ * 2);
        T* c = new (data() + size_) T(std::forward<Args>(args)...);
        ++size_;
        return *c;
    }
    // Appends n elements, the i-th made by make(i), behind one capacity check.
    template <class Make>
    void append(std::size_t n, Make&& make) {
        reserve(size_ + n);
        T* const out = data() + size_;
        for (std::size_t i = 0; i < n; ++i) new (out + i) T(make(i));
        size_ += static_cast<std::uint32_t>(n);
    }
    void clear() {
        for (T& c : *this) c.~T();
        size_ = 0;
    }

    std::vector<T> to_list() const { return std::vector<T>(begin(), end()); }

private:
    T* slots() { return std::launder(reinterpret_cast<T*>(slots_)); }
    const T* slots() const { return std::launder(reinterpret_cast<const T*>(slots_)); }

    template <class It>
    void assign(It first, It last) {
        reserve(static_cast<std::size_t>(last - first));
        for (; first != last; ++first) push_back(*first);
    }
    void grow(std::size_t n) {
        T* moved = static_cast<T*>(::operator new(n * sizeof(T)));
        T* old = data();
        for (std::uint32_t i = 0; i < size_; ++i) {
            new (moved + i) T(std::move(old[i]));
            old[i].~T();
        }
        if (heap_) ::operator delete(heap_);
        heap_ = moved;
        capacity_ = static_cast<std::uint32_t>(n);
    }
    void release() {
        clear();
        if (heap_) ::operator delete(heap_);
        heap_ = nullptr;
        capacity_ = N;
    }
    // Leaves `o` empty and inline.
    void take(InlineVector& o) noexcept {
        if (o.heap_) {
            heap_ = o.heap_;
            capacity_ = o.capacity_;
            o.heap_ = nullptr;
            o.capacity_ = N;
        } else {
            for (std::uint32_t i = 0; i < o.size_; ++i) {
                new (slots() + i) T(std::move(o.slots()[i]));
                o.slots()[i].~T();
            }
        }
        size_ = o.size_;
        o.size_ = 0;
    }

    T* heap_ = nullptr;  // null while the elements fit inline
    std::uint32_t size_ = 0;
    std::uint32_t capacity_ = N;
    alignas(T) unsigned char slots_[N * sizeof(T)];
};

}  // namespace tavik
