// A small expected-like result: C++20 has no std::expected, and the library
// reports failures as named error values instead of exceptions. Every result is
// [[nodiscard]], so a failure cannot be dropped without saying so.
#pragma once

#include <utility>
#include <variant>

namespace tplforge {

template <class E>
struct Unexpected {
    E error;
};

template <class E>
[[nodiscard]] Unexpected<E> fail(E e) {
    return Unexpected<E>{std::move(e)};
}

template <class T, class E>
class [[nodiscard]] Expected {
public:
    using value_type = T;
    using error_type = E;

    Expected(T value) : v_(std::in_place_index<0>, std::move(value)) {}
    Expected(Unexpected<E> u) : v_(std::in_place_index<1>, std::move(u.error)) {}

    explicit operator bool() const { return v_.index() == 0; }
    bool ok() const { return v_.index() == 0; }

    T& value() & { return std::get<0>(v_); }
    const T& value() const& { return std::get<0>(v_); }
    T&& value() && { return std::get<0>(std::move(v_)); }
    T* operator->() { return &std::get<0>(v_); }
    const T* operator->() const { return &std::get<0>(v_); }
    T& operator*() & { return std::get<0>(v_); }
    const T& operator*() const& { return std::get<0>(v_); }
    T&& operator*() && { return std::get<0>(std::move(v_)); }

    const E& error() const { return std::get<1>(v_); }

private:
    std::variant<T, E> v_;
};

// A call that gives nothing back but may fail.
template <class E>
class [[nodiscard]] Expected<void, E> {
public:
    using value_type = void;
    using error_type = E;

    Expected() = default;
    Expected(Unexpected<E> u) : failed_(true), error_(std::move(u.error)) {}

    explicit operator bool() const { return !failed_; }
    bool ok() const { return !failed_; }
    const E& error() const { return error_; }

private:
    bool failed_ = false;
    E error_{};
};

}  // namespace tplforge
