#pragma once
#include <utility>

namespace planexor {

// Holds a value for the length of a scope and sets the value it ends with,
// however the scope is left: the run flags, a run's options, a chain.
template <class T>
class ScopedValue {
public:
    ScopedValue(T& target, T during, T after) : target_(target), after_(std::move(after)) {
        target_ = std::move(during);
    }
    ~ScopedValue() { target_ = std::move(after_); }
    ScopedValue(const ScopedValue&) = delete;
    ScopedValue& operator=(const ScopedValue&) = delete;

private:
    T& target_;
    T after_;
};

}  // namespace planexor
