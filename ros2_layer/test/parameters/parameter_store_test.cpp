#include <gtest/gtest.h>

#include <cstdint>
#include <map>
#include <stdexcept>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "layer_fixture.hpp"
#include "parameter_store.hpp"
#include "rcl_interfaces/srv/describe_parameters.hpp"
#include "rcl_interfaces/srv/get_parameters.hpp"
#include "rcl_interfaces/srv/list_parameters.hpp"
#include "rcl_interfaces/srv/set_parameters.hpp"
#include "rcl_interfaces/srv/set_parameters_atomically.hpp"
#include "rclcpp/exceptions.hpp"
#include "rclcpp/parameter_value.hpp"

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

TEST(ParameterStore, DeclarationTakesTheOverrideOrRefusesWithTheReasonRclcppGives) {
  ParameterDescriptor dynamic;
  dynamic.dynamic_typing = true;
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
  ParameterStore store(
      {{"scale", ParameterValue(0.8)},
       {"topic", ParameterValue("/pad")},
       {"count", ParameterValue(int64_t{1})},
       {"axes", ParameterValue(0.5)},
       {"any", ParameterValue(int64_t{1})},
       {"given", ParameterValue(int64_t{7})},
       {"wrong", ParameterValue("x")},
       {"odd", ParameterValue(int64_t{3})},
       {"big", ParameterValue(1.5)}});
  EXPECT_EQ(store.declare("scale", ParameterValue(0.5), kPlain, false), ParameterValue(0.8));
  EXPECT_EQ(store.declare("topic", ParameterValue("/joy"), kPlain, true), ParameterValue("/joy"));
  EXPECT_EQ(store.declare("rate", ParameterValue(int64_t{50}), kPlain, false), ParameterValue(50));
  EXPECT_EQ(store.declare("any", ParameterValue(0.5), dynamic, false), ParameterValue(1));
  EXPECT_EQ(store.declare("given", rclcpp::PARAMETER_INTEGER, kPlain, false), ParameterValue(7));
  EXPECT_EQ(
      store.declare("absent", rclcpp::PARAMETER_DOUBLE, kPlain, false).get_type(),
      rclcpp::PARAMETER_NOT_SET);
  EXPECT_EQ(store.declare("four", ParameterValue(int64_t{4}), even, false), ParameterValue(4));
  EXPECT_EQ(store.declare("tenth", ParameterValue(0.3), unit, false), ParameterValue(0.3));
  // A refused declaration declares nothing: a second try is refused for its type again.
  for (int attempt = 0; attempt < 2; ++attempt) {
    EXPECT_EQ(
        errorOf<exceptions::InvalidParameterTypeException>(
            [&] { store.declare("count", ParameterValue(0.5), kPlain, false); }),
        "parameter 'count' has invalid type: Wrong parameter type, parameter {count} is of type "
        "{double}, setting it to {integer} is not allowed.");
  }
  EXPECT_EQ(
      errorOf<exceptions::ParameterAlreadyDeclaredException>(
          [&] { store.declare("scale", ParameterValue(0.5), kPlain, false); }),
      "parameter 'scale' has already been declared");
  EXPECT_EQ(
      errorOf<exceptions::InvalidParameterValueException>(
          [&] { store.declare("odd", ParameterValue(int64_t{4}), even, false); }),
      "parameter 'odd' could not be set: Parameter {odd} doesn't comply with integer range.");
  EXPECT_THROW(
      store.declare("", ParameterValue(0.5), kPlain, false),
      exceptions::InvalidParametersException);
  EXPECT_THROW(
      store.declare("unset", ParameterValue(), kPlain, false),
      exceptions::InvalidParameterTypeException);
  EXPECT_THROW(
      store.declare("wrong", rclcpp::PARAMETER_DOUBLE, kPlain, false),
      exceptions::InvalidParameterTypeException);
  EXPECT_THROW(
      store.declare("axes", ParameterValue(std::vector<int64_t>{1}), kPlain, false),
      exceptions::InvalidParameterTypeException);
  EXPECT_THROW(
      store.declare("none", rclcpp::PARAMETER_NOT_SET, kPlain, false), std::invalid_argument);
  for (const auto & [name, value] : {std::pair{"big", 0.5}, std::pair{"step", 0.25}}) {
    EXPECT_THROW(
        store.declare(name, ParameterValue(value), unit, false),
        exceptions::InvalidParameterValueException);
  }
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

// What `ros2 param` sees: a client of the holder's parameter services, spun with it.
template <typename ServiceT>
typename ServiceT::Response::SharedPtr call(
    const rclcpp::Node::SharedPtr & holder, const char * service,
    typename ServiceT::Request request) {
  auto client = holder->create_client<ServiceT>(std::string("/arm/holder/") + service);
  EXPECT_TRUE(client->wait_for_service(std::chrono::seconds(60))) << service;
  auto future =
      client->async_send_request(std::make_shared<typename ServiceT::Request>(std::move(request)));
  EXPECT_EQ(
      rclcpp::spin_until_future_complete(holder, future, std::chrono::seconds(60)),
      rclcpp::FutureReturnCode::SUCCESS)
      << service;
  return future.get();
}

using ParameterServices = test_support::LayerTest;

TEST_F(ParameterServices, SetGetListAndDescribeAnswerAsRclcpp) {
  using namespace rcl_interfaces::srv;
  auto holder = std::make_shared<rclcpp::Node>(
      "holder", "/arm", rclcpp::NodeOptions().append_parameter_override("scale", 0.8));
  ParameterDescriptor fixed;
  fixed.read_only = true;
  fixed.description = "read once at start";
  ParameterDescriptor tenths;
  tenths.integer_range.resize(1);
  tenths.integer_range[0].to_value = 10;
  holder->declare_parameter("scale", 0.5, fixed);
  holder->declare_parameter("grip.speed", int64_t{3}, tenths);
  holder->declare_parameter("grip.force.max", 1.0);
  auto get = [&](std::vector<std::string> names) {
    GetParameters::Request request;
    request.names = std::move(names);
    return call<GetParameters>(holder, "get_parameters", request)->values;
  };

  // Together or one by one, the parameters given, the reason of a refusal, and the speed after.
  const std::string read_only = "parameter 'scale' cannot be set because it is read-only";
  const std::string undeclared = "parameter 'grip.width' cannot be set because it was not declared";
  const std::string range = "Parameter {grip.speed} doesn't comply with integer range.";
  const std::string unset = "cannot undeclare an statically typed parameter";
  const std::string not_declared = "One or more parameters were not declared before setting";
  for (const auto & [atomically, parameters, reason, speed_after] :
       std::vector<std::tuple<bool, std::vector<rclcpp::Parameter>, std::string, int64_t>>{
           {false, {{"scale", 0.9}}, read_only, 3},
           {false, {{"grip.speed", 7}}, "", 7},
           {false, {{"grip.speed", 11}}, range, 7},
           {false, {{"grip.width", 2}}, undeclared, 7},
           {false, {rclcpp::Parameter("grip.speed")}, unset, 7},
           {true, {{"grip.speed", 5}, {"scale", 1.0}}, read_only, 7},
           {true, {{"grip.speed", 5}, {"grip.width", 2}}, not_declared, 7},
           {true, {{"grip.speed", 5}}, "", 5},
       }) {
    SCOPED_TRACE(reason);
    SetParametersAtomically::Request request;
    for (const rclcpp::Parameter & parameter : parameters) {
      request.parameters.emplace_back().name = parameter.get_name();
      request.parameters.back().value = parameter.get_parameter_value().to_value_msg();
    }
    SetParameters::Request one_by_one;
    one_by_one.parameters = request.parameters;
    const auto result =
        atomically
            ? call<SetParametersAtomically>(holder, "set_parameters_atomically", request)->result
            : call<SetParameters>(holder, "set_parameters", one_by_one)->results.at(0);
    EXPECT_EQ(result.successful, reason.empty());
    EXPECT_EQ(result.reason, reason);
    EXPECT_EQ(
        get({"scale", "grip.speed"}),
        (std::vector{
            ParameterValue(0.8).to_value_msg(), ParameterValue(speed_after).to_value_msg()}));
  }
  EXPECT_TRUE(get({"scale", "grip.width"}).empty());
  ParameterDescriptor described = fixed;
  described.name = "scale";
  described.type = rclcpp::PARAMETER_DOUBLE;
  DescribeParameters::Request describe;
  describe.names = {"scale"};
  EXPECT_EQ(
      call<DescribeParameters>(holder, "describe_parameters", describe)->descriptors,
      std::vector{described});

  // Below a prefix rclcpp counts the separator that follows it as a level.
  using Names = std::vector<std::string>;
  for (const auto & [prefixes, depth, names, prefixes_listed] :
       std::vector<std::tuple<Names, uint64_t, Names, Names>>{
           {{}, 0, {"grip.force.max", "grip.speed", "scale"}, {"grip.force", "grip"}},
           {{}, 1, {"scale"}, {}},
           {{"grip", "scale"}, 2, {"grip.speed", "scale"}, {"grip"}},
       }) {
    ListParameters::Request request;
    request.prefixes = prefixes;
    request.depth = depth;  // 0: without limit
    const auto listed = call<ListParameters>(holder, "list_parameters", request)->result;
    EXPECT_EQ(listed.names, names);
    EXPECT_EQ(listed.prefixes, prefixes_listed);
  }
}

TEST(ParameterValue, ConvertsFromItsMessageAndNarrowerTypesAndNamesBothTypesWhenReadAsAnother) {
  EXPECT_EQ(
      errorOf<rclcpp::ParameterTypeException>([] { ParameterValue(0.5).get<int64_t>(); }),
      "expected [integer] got [double]");
  const ParameterValue ints(std::vector<int>{1, 2, 3});
  EXPECT_EQ(ints.get_type(), rclcpp::PARAMETER_INTEGER_ARRAY);
  rcl_interfaces::msg::ParameterValue message;
  message.type = rcl_interfaces::msg::ParameterType::PARAMETER_INTEGER_ARRAY;
  message.integer_array_value = {1, 2, 3};
  EXPECT_EQ(ParameterValue(message), ints);
  EXPECT_NE(ints, ParameterValue(std::vector<int64_t>{1, 2}));
  EXPECT_EQ(ParameterValue(1.5f).get<double>(), 1.5);
  message.type = 42;
  EXPECT_THROW(ParameterValue{message}, std::runtime_error);
  EXPECT_STREQ(
      exceptions::InvalidTopicNameError("a b", "must not contain spaces", 1).what(),
      "Invalid topic name: must not contain spaces:\n  'a b'\n    ^\n");
}

}  // namespace
}  // namespace ros2_layer::test
