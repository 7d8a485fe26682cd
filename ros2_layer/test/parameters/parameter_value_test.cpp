#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "rclcpp/exceptions.hpp"
#include "rclcpp/parameter_value.hpp"

namespace {

TEST(ParameterValue, ReadingAnotherTypeRaisesWithBothTypes) {
  const rclcpp::ParameterValue value(0.5);
  try {
    value.get<int64_t>();
    FAIL() << "no exception";
  } catch (const rclcpp::ParameterTypeException & error) {
    EXPECT_STREQ(error.what(), "expected [integer] got [double]");
  }
}

TEST(ParameterValue, ConvertsFromItsMessageAndFromNarrowerTypes) {
  const rclcpp::ParameterValue ints(std::vector<int>{1, 2, 3});
  EXPECT_EQ(ints.get_type(), rclcpp::PARAMETER_INTEGER_ARRAY);
  rcl_interfaces::msg::ParameterValue message;
  message.type = rcl_interfaces::msg::ParameterType::PARAMETER_INTEGER_ARRAY;
  message.integer_array_value = {1, 2, 3};
  EXPECT_EQ(rclcpp::ParameterValue(message), ints);
  EXPECT_NE(ints, rclcpp::ParameterValue(std::vector<int64_t>{1, 2}));
  EXPECT_EQ(rclcpp::ParameterValue(1.5f).get<double>(), 1.5);
  rcl_interfaces::msg::ParameterValue unknown;
  unknown.type = 42;
  EXPECT_THROW(rclcpp::ParameterValue{unknown}, std::runtime_error);
}

TEST(Exceptions, NameValidationErrorPointsAtTheOffendingCharacter) {
  const rclcpp::exceptions::InvalidTopicNameError error("a b", "must not contain spaces", 1);
  EXPECT_STREQ(error.what(), "Invalid topic name: must not contain spaces:\n  'a b'\n    ^\n");
}

}  // namespace
