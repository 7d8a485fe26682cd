#include <gtest/gtest.h>

#include <cstdint>
#include <map>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "parameter_store.hpp"
#include "rclcpp/exceptions.hpp"

namespace ros2_layer::test {
namespace {

using rcl_interfaces::msg::ParameterDescriptor;
using rclcpp::ParameterValue;
namespace exceptions = rclcpp::exceptions;

/// A descriptor with no constraints, as declare_parameter's default.
const ParameterDescriptor kPlain;

template <typename E, typename F>
std::string errorOf(F && action) {
  try {
    action();
  } catch (const E & error) {
    return error.what();
  }
  return "<no exception>";
}

TEST(ParameterStore, OverrideReplacesTheDefaultUnlessIgnored) {
  ParameterStore store({{"scale", ParameterValue(0.8)}, {"topic", ParameterValue("/pad")}});
  EXPECT_EQ(store.declare("scale", ParameterValue(0.5), kPlain, false), ParameterValue(0.8));
  EXPECT_EQ(store.declare("topic", ParameterValue("/joy"), kPlain, true), ParameterValue("/joy"));
  EXPECT_EQ(store.declare("rate", ParameterValue(int64_t{50}), kPlain, false), ParameterValue(50));
}

TEST(ParameterStore, OverrideOfAnotherTypeRaisesNamingTheParameter) {
  ParameterStore store({{"scale", ParameterValue(int64_t{1})}, {"axes", ParameterValue(0.5)}});
  EXPECT_EQ(
      errorOf<exceptions::InvalidParameterTypeException>(
          [&] { store.declare("scale", ParameterValue(0.5), kPlain, false); }),
      "parameter 'scale' has invalid type: Wrong parameter type, parameter {scale} is of type "
      "{double}, setting it to {integer} is not allowed.");
  EXPECT_NE(
      errorOf<exceptions::InvalidParameterTypeException>([&] {
        store.declare("axes", ParameterValue(std::vector<int64_t>{1}), kPlain, false);
      }).find("parameter 'axes'"),
      std::string::npos);
  // A refused declaration declares nothing: a second try is refused for its type again.
  EXPECT_THROW(
      store.declare("scale", ParameterValue(0.5), kPlain, false),
      exceptions::InvalidParameterTypeException);
}

TEST(ParameterStore, DynamicTypingAcceptsAnOverrideOfAnotherType) {
  ParameterStore store({{"scale", ParameterValue(int64_t{1})}});
  ParameterDescriptor dynamic;
  dynamic.dynamic_typing = true;
  EXPECT_EQ(store.declare("scale", ParameterValue(0.5), dynamic, false), ParameterValue(1));
}

TEST(ParameterStore, DeclaringTwiceOrWithoutANameIsRefused) {
  ParameterStore store;
  store.declare("scale", ParameterValue(0.5), kPlain, false);
  EXPECT_EQ(
      errorOf<exceptions::ParameterAlreadyDeclaredException>(
          [&] { store.declare("scale", ParameterValue(0.5), kPlain, false); }),
      "parameter 'scale' has already been declared");
  EXPECT_THROW(
      store.declare("", ParameterValue(0.5), kPlain, false),
      exceptions::InvalidParametersException);
  EXPECT_THROW(
      store.declare("unset", ParameterValue(), kPlain, false),
      exceptions::InvalidParameterTypeException);
}

TEST(ParameterStore, DeclaringByTypeTakesTheOverrideOrStaysUninitialized) {
  ParameterStore store({{"given", ParameterValue(int64_t{7})}, {"wrong", ParameterValue("x")}});
  EXPECT_EQ(store.declare("given", rclcpp::PARAMETER_INTEGER, kPlain, false), ParameterValue(7));
  EXPECT_EQ(
      store.declare("absent", rclcpp::PARAMETER_DOUBLE, kPlain, false).get_type(),
      rclcpp::PARAMETER_NOT_SET);
  EXPECT_THROW(
      store.declare("wrong", rclcpp::PARAMETER_DOUBLE, kPlain, false),
      exceptions::InvalidParameterTypeException);
  EXPECT_THROW(
      store.declare("none", rclcpp::PARAMETER_NOT_SET, kPlain, false), std::invalid_argument);
}

TEST(ParameterStore, ValuesOutsideTheDescriptorRangeAreRefused) {
  ParameterDescriptor even;
  even.integer_range.resize(1);
  even.integer_range[0].from_value = 0;
  even.integer_range[0].to_value = 10;
  even.integer_range[0].step = 2;
  ParameterDescriptor unit;
  unit.floating_point_range.resize(1);
  unit.floating_point_range[0].from_value = 0.0;
  unit.floating_point_range[0].to_value = 1.0;
  unit.floating_point_range[0].step = 0.1;
  ParameterStore store({{"odd", ParameterValue(int64_t{3})}, {"big", ParameterValue(1.5)}});

  EXPECT_EQ(store.declare("four", ParameterValue(int64_t{4}), even, false), ParameterValue(4));
  EXPECT_EQ(store.declare("tenth", ParameterValue(0.3), unit, false), ParameterValue(0.3));
  EXPECT_EQ(
      errorOf<exceptions::InvalidParameterValueException>(
          [&] { store.declare("odd", ParameterValue(int64_t{4}), even, false); }),
      "parameter 'odd' could not be set: Parameter {odd} doesn't comply with integer range.");
  EXPECT_THROW(
      store.declare("big", ParameterValue(0.5), unit, false),
      exceptions::InvalidParameterValueException);
  EXPECT_THROW(
      store.declare("step", ParameterValue(0.25), unit, false),
      exceptions::InvalidParameterValueException);
}

TEST(ParameterStore, ConcurrentDeclarationsEachGetTheirOwnValue) {
  ParameterStore store({{"p0_0", ParameterValue(int64_t{-1})}});
  constexpr int kThreads = 4;
  constexpr int kPerThread = 200;
  std::vector<std::vector<int64_t>> declared(kThreads);
  std::vector<std::thread> threads;
  for (int thread = 0; thread < kThreads; ++thread) {
    threads.emplace_back([&store, &mine = declared[thread], thread] {
      for (int index = 0; index < kPerThread; ++index) {
        const std::string name = "p" + std::to_string(thread) + "_" + std::to_string(index);
        mine.push_back(
            store.declare(name, ParameterValue(int64_t{index}), kPlain, false).get<int64_t>());
      }
    });
  }
  for (std::thread & thread : threads) {
    thread.join();
  }
  EXPECT_EQ(declared[0][0], -1);
  EXPECT_EQ(declared[3][199], 199);
}

}  // namespace
}  // namespace ros2_layer::test
