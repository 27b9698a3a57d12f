// One compute call as the strategies hand it down to their sub-plans: its
// direction, its extra argument (if any), and the arrays it works on.
#pragma once

#include <zun/core.h>

#include <cstdint>

#include "parallel/records.h"

namespace zun::fft::omp {

enum class Direction { Forward, Backward };

// The four compute operations are one operation with a direction and an
// optional extra argument. The extra argument reaches only the plans of the
// pass that runs first; later passes get plain() calls.
struct Call {
    Direction direction = Direction::Forward;
    bool withArg = false;
    void* extraArg = nullptr;

    bool isForward() const { return direction == Direction::Forward; }
    Call plain() const { return {direction, false, nullptr}; }
};

// The arrays of a call. Out of place, `first` is read and `second` written;
// their layouts swap with the direction.
template <typename T, Placement P>
struct Arrays;

template <typename T>
struct Arrays<T, Placement::Inplace> {
    T* data;
    Arrays at(std::int64_t firstOffset, std::int64_t /*secondOffset*/) const { return {data + firstOffset}; }
};

template <typename T>
struct Arrays<T, Placement::Ooplace> {
    const T* first;
    T* second;
    Arrays at(std::int64_t firstOffset, std::int64_t secondOffset) const
    {
        return {first + firstOffset, second + secondOffset};
    }
};

// Reals between consecutive items of the first and the second array of a call.
struct Spacing {
    std::int64_t first;
    std::int64_t second;

    template <typename T, Placement P>
    Arrays<T, P> item(const Arrays<T, P>& arrays, std::int64_t index) const
    {
        return arrays.at(index * first, index * second);
    }
};

// The array a call writes, for passes that run in place on it.
template <typename T>
Arrays<T, Placement::Inplace> written(const Arrays<T, Placement::Inplace>& arrays)
{
    return arrays;
}

template <typename T>
Arrays<T, Placement::Inplace> written(const Arrays<T, Placement::Ooplace>& arrays)
{
    return {arrays.second};
}

// Adjacent complex columns: two reals apart in every array.
inline constexpr Spacing adjacentColumns{2, 2};

// Out of place, forward reads the input layout and writes the output layout;
// backward the other way round.
inline Spacing spacingFor(const Call& call, const ItemSpacing& spacing)
{
    return call.isForward() ? Spacing{spacing.in, spacing.out} : Spacing{spacing.out, spacing.in};
}

template <typename T>
void invoke(const InplaceCompute<T>& plan, const Call& call, const Arrays<T, Placement::Inplace>& arrays, T* work)
{
    if (call.isForward()) {
        if (call.withArg) plan.forwardWithArg(call.extraArg, arrays.data, work);
        else plan.forward(arrays.data, work);
    } else {
        if (call.withArg) plan.backwardWithArg(call.extraArg, arrays.data, work);
        else plan.backward(arrays.data, work);
    }
}

template <typename T>
void invoke(const OoplaceCompute<T>& plan, const Call& call, const Arrays<T, Placement::Ooplace>& arrays, T* work)
{
    if (call.isForward()) {
        if (call.withArg) plan.forwardWithArg(call.extraArg, arrays.first, arrays.second, work);
        else plan.forward(arrays.first, arrays.second, work);
    } else {
        if (call.withArg) plan.backwardWithArg(call.extraArg, arrays.first, arrays.second, work);
        else plan.backward(arrays.first, arrays.second, work);
    }
}

// The four compute operations of a strategy, all routed to Derived::run(call,
// arrays, work), on the base every strategy class derives from; it also names
// the strategy's Real type and placement, which makeComplete reads.
template <typename Derived, typename T, Placement P>
class RoutedCompute;

template <typename Derived, typename T>
class RoutedCompute<Derived, T, Placement::Inplace> : public InplaceCompute<T> {
public:
    using Real = T;
    static constexpr Placement placement = Placement::Inplace;

    void forward(T* data, T* work) const override { route({Direction::Forward}, data, work); }
    void backward(T* data, T* work) const override { route({Direction::Backward}, data, work); }
    void forwardWithArg(void* extraArg, T* data, T* work) const override
    {
        route({Direction::Forward, true, extraArg}, data, work);
    }
    void backwardWithArg(void* extraArg, T* data, T* work) const override
    {
        route({Direction::Backward, true, extraArg}, data, work);
    }

private:
    void route(const Call& call, T* data, T* work) const
    {
        static_cast<const Derived*>(this)->run(call, Arrays<T, Placement::Inplace>{data}, work);
    }
};

template <typename Derived, typename T>
class RoutedCompute<Derived, T, Placement::Ooplace> : public OoplaceCompute<T> {
public:
    using Real = T;
    static constexpr Placement placement = Placement::Ooplace;

    void forward(const T* first, T* second, T* work) const override
    {
        route({Direction::Forward}, first, second, work);
    }
    void backward(const T* first, T* second, T* work) const override
    {
        route({Direction::Backward}, first, second, work);
    }
    void forwardWithArg(void* extraArg, const T* first, T* second, T* work) const override
    {
        route({Direction::Forward, true, extraArg}, first, second, work);
    }
    void backwardWithArg(void* extraArg, const T* first, T* second, T* work) const override
    {
        route({Direction::Backward, true, extraArg}, first, second, work);
    }

private:
    void route(const Call& call, const T* first, T* second, T* work) const
    {
        static_cast<const Derived*>(this)->run(call, Arrays<T, Placement::Ooplace>{first, second}, work);
    }
};

}  // namespace zun::fft::omp
