#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "rclcpp/exceptions.hpp"
#include "rclcpp/parameter.hpp"

namespace {

TEST(ParameterValue, ReadingAnotherTypeRaisesWithBothTypes) {
  const rclcpp::ParameterValue value(0.5);
  try {
    value.get<int64_t>();
    FAIL() << "no exception";
  } catch (const rclcpp::ParameterTypeException & error) {
    EXPECT_STREQ(error.what(), "expected [integer] got [double]");
  }
  const rclcpp::Parameter parameter("scale", value);
  try {
    parameter.get_value<std::string>();
    FAIL() << "no exception";
  } catch (const rclcpp::exceptions::InvalidParameterTypeException & error) {
    EXPECT_STREQ(
        error.what(), "parameter 'scale' has invalid type: expected [string] got [double]");
  }
}

TEST(ParameterValue, ConvertsThroughItsMessage) {
  const rclcpp::ParameterValue ints(std::vector<int>{1, 2, 3});
  EXPECT_EQ(ints.get_type(), rclcpp::PARAMETER_INTEGER_ARRAY);
  EXPECT_EQ(rclcpp::ParameterValue(ints.to_value_msg()), ints);
  EXPECT_NE(ints, rclcpp::ParameterValue(std::vector<int64_t>{1, 2}));
  EXPECT_EQ(rclcpp::ParameterValue(1.5f).get<double>(), 1.5);
  rcl_interfaces::msg::ParameterValue unknown;
  unknown.type = 42;
  EXPECT_THROW(rclcpp::ParameterValue{unknown}, std::runtime_error);
}

TEST(ParameterValue, PrintsAsRclcppDoes) {
  EXPECT_EQ(rclcpp::to_string(rclcpp::ParameterValue(true)), "true");
  EXPECT_EQ(rclcpp::to_string(rclcpp::ParameterValue(0.5)), "0.500000");
  EXPECT_EQ(rclcpp::to_string(rclcpp::ParameterValue(std::vector<int64_t>{1, 2})), "[1, 2]");
  EXPECT_EQ(rclcpp::to_string(rclcpp::ParameterValue(std::vector<double>{0.5, 2})), "[0.5, 2]");
  EXPECT_EQ(rclcpp::to_string(rclcpp::ParameterValue(std::vector<uint8_t>{1, 255})), "[0x1, 0xff]");
  EXPECT_EQ(
      rclcpp::to_string(rclcpp::ParameterValue(std::vector<bool>{true, false})), "[true, false]");
  EXPECT_EQ(rclcpp::to_string(rclcpp::PARAMETER_STRING_ARRAY), "string_array");
}

TEST(Exceptions, NameValidationErrorPointsAtTheOffendingCharacter) {
  const rclcpp::exceptions::InvalidTopicNameError error("a b", "must not contain spaces", 1);
  EXPECT_STREQ(error.what(), "Invalid topic name: must not contain spaces:\n  'a b'\n    ^\n");
}

}  // namespace
