// The exceptions of the client library, under the header name rclcpp code includes.
#pragma once

#include "rclcpp/exceptions/exceptions.hpp"
