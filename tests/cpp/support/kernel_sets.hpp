#pragma once
// Running decoder suites under every kernel set this machine has: a suite
// derives its fixture from EachKernelSet (or EachKernelSetWith<P> for a
// parameter of its own) and is instantiated with the set names, each test
// then decodes through that set.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <tuple>
#include <vector>

#include "grib/kernels/unpack_kernels.hpp"

namespace vorlak::test {

inline std::vector<std::string> kernel_set_names() {
  std::vector<std::string> names;
  for (const UnpackKernels* set : available_kernels()) names.emplace_back(set->name);
  return names;
}

// Puts the named set in place for as long as it lives.
class ScopedKernels {
 public:
  explicit ScopedKernels(const std::string& name) : set_(kernels_by_name(name)) { override_active_kernels(set_); }
  explicit ScopedKernels(const UnpackKernels* set) : set_(set) { override_active_kernels(set_); }
  ~ScopedKernels() { override_active_kernels(nullptr); }
  ScopedKernels(const ScopedKernels&) = delete;
  ScopedKernels& operator=(const ScopedKernels&) = delete;
  const UnpackKernels* set() const { return set_; }

 private:
  const UnpackKernels* set_;
};

class EachKernelSet : public ::testing::TestWithParam<std::string> {
 protected:
  void SetUp() override { kernels_.emplace(GetParam()); }
  void TearDown() override { kernels_.reset(); }
  std::optional<ScopedKernels> kernels_;
};

template <class P>
class EachKernelSetWith : public ::testing::TestWithParam<std::tuple<std::string, P>> {
 protected:
  void SetUp() override { kernels_.emplace(std::get<0>(this->GetParam())); }
  void TearDown() override { kernels_.reset(); }
  const P& param() const { return std::get<1>(this->GetParam()); }
  std::optional<ScopedKernels> kernels_;
};

inline std::string kernel_set_label(const ::testing::TestParamInfo<std::string>& info) { return info.param; }

}  // namespace vorlak::test

#define INSTANTIATE_FOR_EACH_KERNEL_SET(suite)                                                         \
  INSTANTIATE_TEST_SUITE_P(Kernels, suite, ::testing::ValuesIn(::vorlak::test::kernel_set_names()), \
                           ::vorlak::test::kernel_set_label)

// The suite's own values crossed with every kernel set.
#define INSTANTIATE_FOR_EACH_KERNEL_SET_WITH(suite, values) \
  INSTANTIATE_TEST_SUITE_P(Kernels, suite,                 \
                           ::testing::Combine(::testing::ValuesIn(::vorlak::test::kernel_set_names()), values))
