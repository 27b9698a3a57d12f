// The plan objects handed to callers: a name and one pass per direction.
#pragma once

#include "passes.h"

#include <zun/fft/interfaces.h>

#include <algorithm>
#include <memory>
#include <string>

namespace zun::fft::detail {

template <typename T>
struct Directions {
    std::unique_ptr<Pass<T>> forward;
    std::unique_ptr<Pass<T>> backward;

    explicit operator bool() const { return forward && backward; }
    std::size_t workSize() const { return std::max(forward->workSize(), backward->workSize()); }
};

template <typename T>
class InplacePlan final : public InplaceCompute<T> {
public:
    InplacePlan(Directions<T> passes, std::string name) : passes_(std::move(passes)), name_(std::move(name)) {}

    void forward(T* data, T* work) const override { passes_.forward->run(data, data, nullptr, work); }
    void backward(T* data, T* work) const override { passes_.backward->run(data, data, nullptr, work); }
    void forwardWithArg(void*, T* data, T* work) const override { forward(data, work); }
    void backwardWithArg(void*, T* data, T* work) const override { backward(data, work); }
    std::size_t workSize() const override { return passes_.workSize(); }
    int threadCount() const override { return 1; }
    std::string toString() const override { return name_; }
    std::size_t threadWorkSize() const override { return workSize(); }
    // Serial plans keep no per-thread state, so there is nothing to reserve.
    void reserveThreadWork(std::size_t) override {}

private:
    Directions<T> passes_;
    std::string name_;
};

template <typename T>
class OoplacePlan final : public OoplaceCompute<T> {
public:
    OoplacePlan(Directions<T> passes, std::string name) : passes_(std::move(passes)), name_(std::move(name)) {}

    void forward(const T* first, T* second, T* work) const override {
        passes_.forward->run(first, second, nullptr, work);
    }
    void backward(const T* first, T* second, T* work) const override {
        passes_.backward->run(first, second, nullptr, work);
    }
    void forwardWithArg(void*, const T* first, T* second, T* work) const override { forward(first, second, work); }
    void backwardWithArg(void*, const T* first, T* second, T* work) const override { backward(first, second, work); }
    std::size_t workSize() const override { return passes_.workSize(); }
    int threadCount() const override { return 1; }
    std::string toString() const override { return name_; }
    std::size_t threadWorkSize() const override { return workSize(); }
    // Serial plans keep no per-thread state, so there is nothing to reserve.
    void reserveThreadWork(std::size_t) override {}

private:
    Directions<T> passes_;
    std::string name_;
};

template <typename T>
class SplitBackwardPlan final : public SplitBackwardCompute<T> {
public:
    explicit SplitBackwardPlan(std::unique_ptr<Pass<T>> pass) : pass_(std::move(pass)) {}

    // Row and slice callers pass different modes; the staged pass serves both.
    void execute(int, T* data, T* side, T* work) const override { pass_->run(data, data, side, work); }
    std::size_t workSize() const override { return pass_->workSize(); }

private:
    std::unique_ptr<Pass<T>> pass_;
};

}  // namespace zun::fft::detail
