// The single-threaded executor.
#pragma once

#include "rclcpp/executor.hpp"
