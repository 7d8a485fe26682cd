// Symbol visibility macros; the bundled layer is a static library, so they expand to nothing.
#pragma once

#define RCLCPP_EXPORT
#define RCLCPP_IMPORT
#define RCLCPP_PUBLIC
#define RCLCPP_LOCAL
#define RCLCPP_PUBLIC_TYPE
