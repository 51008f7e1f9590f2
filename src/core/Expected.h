// A value or an error, for operations that can fail (C++20 has no std::expected yet).
//
//   Expected<CapturedImage, CaptureError> r = ...;
//   if (!r) log(describe(r.error())); else use(*r);
//
// Errors are values in this code base: no exceptions cross a module boundary.
#pragma once

#include <cassert>
#include <type_traits>
#include <utility>
#include <variant>

namespace quillet {

template <class E>
struct Unexpected {
    E error;
};

template <class E>
Unexpected<std::decay_t<E>> unexpected(E&& error) {
    return {std::forward<E>(error)};
}

template <class T, class E>
class [[nodiscard]] Expected {
public:
    Expected(const T& value) : storage(std::in_place_index<0>, value) {}
    Expected(T&& value) : storage(std::in_place_index<0>, std::move(value)) {}
    template <class G>
    Expected(Unexpected<G> error) : storage(std::in_place_index<1>, std::move(error.error)) {}

    bool has_value() const { return storage.index() == 0; }
    explicit operator bool() const { return has_value(); }

    T& value() & { assert(has_value()); return std::get<0>(storage); }
    const T& value() const& { assert(has_value()); return std::get<0>(storage); }
    T&& value() && { assert(has_value()); return std::get<0>(std::move(storage)); }
    T& operator*() & { return value(); }
    const T& operator*() const& { return value(); }
    T* operator->() { return &value(); }
    const T* operator->() const { return &value(); }

    const E& error() const { assert(!has_value()); return std::get<1>(storage); }

    template <class U>
    T value_or(U&& fallback) const { return has_value() ? value() : T(std::forward<U>(fallback)); }

    friend bool operator==(const Expected&, const Expected&) = default;

private:
    std::variant<T, E> storage;
};

template <class E>
class [[nodiscard]] Expected<void, E> {
public:
    Expected() = default;
    template <class G>
    Expected(Unexpected<G> error) : failure(std::move(error.error)), failed(true) {}

    bool has_value() const { return !failed; }
    explicit operator bool() const { return has_value(); }
    const E& error() const { assert(failed); return failure; }

    friend bool operator==(const Expected&, const Expected&) = default;

private:
    E failure{};
    bool failed = false;
};

}  // namespace quillet
