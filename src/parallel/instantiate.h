// Explicit instantiations of a family's make function for the six factory
// types, in place and out of place: X(T, K, P) is expanded twelve times.
#pragma once

#define ZUN_FOR_EACH_PLACEMENT(X, T, K) \
    X(T, K, Placement::Inplace)         \
    X(T, K, Placement::Ooplace)

#define ZUN_FOR_EACH_TYPE_AND_PLACEMENT(X)             \
    ZUN_FOR_EACH_PLACEMENT(X, float, Kind::Complex)    \
    ZUN_FOR_EACH_PLACEMENT(X, float, Kind::Real)       \
    ZUN_FOR_EACH_PLACEMENT(X, double, Kind::Complex)   \
    ZUN_FOR_EACH_PLACEMENT(X, double, Kind::Real)      \
    ZUN_FOR_EACH_PLACEMENT(X, _Float16, Kind::Complex) \
    ZUN_FOR_EACH_PLACEMENT(X, _Float16, Kind::Real)
