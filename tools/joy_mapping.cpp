// The mapping view: shows which button numbers a controller presses and which axis numbers it
// moves, so an operator knows what to put into "joy_btns" and "joy_axis". Values are shown as
// the node sees them (up and left positive, a trigger +1.00 released and -1.00 fully pulled).
//
//   tavrin_joy_mapping [--plain | --live] [SOURCE]
//     SOURCE  a joystick device (default /dev/input/js0), or /joy for sensor_msgs/Joy samples
#include <fcntl.h>
#include <linux/joystick.h>
#include <poll.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <cmath>
#include <iostream>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "common/command_line.hpp"
#include "common/gamepad.hpp"
#include "common/terminal.hpp"
#include "rclcpp/rclcpp.hpp"
#include "sensor_msgs/msg/joy.hpp"

namespace {

using namespace std::chrono_literals;
using tavrin_tools::signedValue;

// An axis counts as moved this far from where it rests; reports come in steps of a quarter.
constexpr float kMovedThreshold = 0.5f;
constexpr float kReportStep = 0.25f;
constexpr auto kRedrawPeriod = 100ms;
constexpr auto kReopenPeriod = 1s;

std::atomic<bool> interrupted{false};

float level(float value) { return std::round(value / kReportStep) * kReportStep; }

/// What the controller has shown so far; prints events or renders a live view. Thread-safe.
class MappingView {
public:
  explicit MappingView(bool live) : live_(live) {}

  void source(const std::string & text) {
    std::lock_guard<std::mutex> lock(mutex_);
    source_ = text;
    axes_.clear();
    rest_.clear();
    reported_.clear();
    buttons_.clear();
    event("reading " + text);
  }

  void note(const std::string & text) {
    std::lock_guard<std::mutex> lock(mutex_);
    event(text);
  }

  /// An axis value; `at_rest` marks where it rests (a device's initial state, a first sample).
  void axis(size_t number, float value, bool at_rest) {
    std::lock_guard<std::mutex> lock(mutex_);
    grow(number);
    axes_[number] = value;
    if (at_rest) {
      rest_[number] = value;
      reported_[number] = level(value);
      return;
    }
    if (level(value) != reported_[number]) {
      reported_[number] = level(value);
      event("axis " + std::to_string(number) + " -> " + signedValue(value) + restHint(number));
    }
  }

  void button(size_t number, bool pressed, bool initial) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (number >= buttons_.size()) {
      buttons_.resize(number + 1, false);
    }
    const bool changed = buttons_[number] != pressed;
    buttons_[number] = pressed;
    if (!initial && changed) {
      event("button " + std::to_string(number) + (pressed ? " pressed" : " released"));
    }
  }

  size_t axisCount() {
    std::lock_guard<std::mutex> lock(mutex_);
    return axes_.size();
  }

  std::vector<std::string> render() {
    std::lock_guard<std::mutex> lock(mutex_);
    std::string pressed;
    for (size_t number = 0; number < buttons_.size(); ++number) {
      if (buttons_[number]) {
        pressed += " " + std::to_string(number);
      }
    }
    std::string moved;
    std::string all;
    for (size_t number = 0; number < axes_.size(); ++number) {
      const std::string name = std::to_string(number);
      all += "  " + name + " " + signedValue(axes_[number]);
      if (std::fabs(axes_[number] - rest_[number]) >= kMovedThreshold) {
        moved +=
            "  " + name + " " + signedValue(axes_[number]) + " " + tavrin_tools::bar(axes_[number]);
      }
    }
    return {
        "  Controller mapping: " + source_,
        "  pressed buttons " + (pressed.empty() ? std::string(" none") : pressed),
        "  moved axes      " + (moved.empty() ? std::string(" none") : moved),
        "  all axes        " + all,
        "  last            " + last_,
        "  ---------------------------------------------------------------------------",
        "  joy_axis: axis numbers for linear x, y, z, angular x, y, z; entries 2 and 5 must be",
        "            triggers (resting at +1.00, -1.00 fully pulled)",
        "  joy_btns: button numbers for trigger reverse, grab, I/O off, I/O on, emergency stop,",
        "            (none), joint space, cartesian space          Ctrl-C quits",
    };
  }

private:
  void grow(size_t number) {
    if (number >= axes_.size()) {
      axes_.resize(number + 1, 0.0f);
      rest_.resize(number + 1, 0.0f);
      reported_.resize(number + 1, 0.0f);
    }
  }

  std::string restHint(size_t number) const {
    const float rest = rest_[number];
    if (std::fabs(std::fabs(rest) - 1.0f) < 0.1f) {
      return "   (rests at " + signedValue(rest) + ": a trigger)";
    }
    return {};
  }

  void event(const std::string & text) {
    last_ = text;
    if (!live_) {
      std::cout << text << std::endl;
    }
  }

  const bool live_;
  std::mutex mutex_;
  std::string source_;
  std::string last_;
  std::vector<float> axes_;
  std::vector<float> rest_;
  std::vector<float> reported_;
  std::vector<bool> buttons_;
};

std::string deviceDescription(int fd, const std::string & path) {
  std::array<char, 128> name{};
  if (::ioctl(fd, JSIOCGNAME(name.size() - 1), name.data()) < 0) {
    name = {'u', 'n', 'k', 'n', 'o', 'w', 'n', '\0'};
  }
  uint8_t axes = 0;
  uint8_t buttons = 0;
  std::string counts;
  if (::ioctl(fd, JSIOCGAXES, &axes) >= 0 && ::ioctl(fd, JSIOCGBUTTONS, &buttons) >= 0) {
    counts = ", " + std::to_string(axes) + " axes, " + std::to_string(buttons) + " buttons";
  }
  return std::string(name.data()) + " on " + path + counts;
}

/// Reads one open device until it goes away or the program is interrupted.
void readDevice(int fd, MappingView & view) {
  pollfd readable{fd, POLLIN, 0};
  while (!interrupted) {
    if (::poll(&readable, 1, 100) <= 0) {
      continue;
    }
    js_event event{};
    if (::read(fd, &event, sizeof(event)) != static_cast<ssize_t>(sizeof(event))) {
      return;  // unplugged
    }
    const bool initial = (event.type & JS_EVENT_INIT) != 0;
    switch (event.type & ~JS_EVENT_INIT) {
      case JS_EVENT_BUTTON:
        view.button(event.number, event.value != 0, initial);
        break;
      case JS_EVENT_AXIS:
        view.axis(event.number, tavrin_tools::joyAxisValue(event.value), initial);
        break;
      default:
        break;
    }
  }
}

void watchDevice(const std::string & path, MappingView & view) {
  bool waiting_said = false;
  while (!interrupted) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
      if (!waiting_said) {
        view.note("waiting for " + path + " (plug the controller in; Ctrl-C quits)");
        waiting_said = true;
      }
      std::this_thread::sleep_for(kReopenPeriod);
      continue;
    }
    waiting_said = false;
    view.source(deviceDescription(fd, path));
    readDevice(fd, view);
    ::close(fd);
    if (!interrupted) {
      view.note(path + " went away");
    }
  }
}

void watchTopic(int argc, const char * const * argv, MappingView & view) {
  rclcpp::init(argc, argv);
  auto node = std::make_shared<rclcpp::Node>("joy_mapping");
  view.source("sensor_msgs/Joy on /joy");
  bool first = true;
  auto subscription = node->create_subscription<sensor_msgs::msg::Joy>(
      "/joy", rclcpp::QoS(10),
      [&view, &first](std::shared_ptr<const sensor_msgs::msg::Joy> sample) {
        // A topic has no initial burst: the first sample tells where the axes rest.
        for (size_t number = 0; number < sample->axes.size(); ++number) {
          view.axis(number, sample->axes[number], first);
        }
        for (size_t number = 0; number < sample->buttons.size(); ++number) {
          view.button(number, sample->buttons[number] != 0, first);
        }
        first = false;
      });
  std::thread spinner([&node] { rclcpp::spin(node); });
  while (rclcpp::ok()) {
    std::this_thread::sleep_for(50ms);
  }
  interrupted = true;
  spinner.join();
  rclcpp::shutdown();
}

void onInterrupt(int) { interrupted = true; }

}  // namespace

int main(int argc, char ** argv) {
  const auto command_line = tavrin_tools::splitCommandLine(argc, argv);
  bool live = tavrin_tools::stdoutIsLiveTerminal();
  std::string source = "/dev/input/js0";
  for (size_t i = 1; i < command_line.options.size(); ++i) {
    const auto & argument = command_line.options[i];
    if (argument == "--plain" || argument == "--live") {
      live = argument == "--live";
    } else if (!argument.empty() && argument[0] != '-') {
      source = argument;
    } else {
      std::cerr << "usage: tavrin_joy_mapping [--plain | --live] [DEVICE | /joy]\n"
                   "  shows the button numbers held and the axis numbers moved on a controller\n"
                   "  DEVICE   a Linux joystick device (default /dev/input/js0)\n"
                   "  /joy     sensor_msgs/Joy samples instead\n"
                   "  --plain  one line per event (default when the output is no terminal)\n"
                   "  --live   a view redrawn in place (default on a terminal)"
                << std::endl;
      return argument == "--help" ? 0 : 2;
    }
  }
  MappingView view(live);
  std::thread drawer;
  if (live) {
    drawer = std::thread([&view] {
      tavrin_tools::LiveBlock block;
      while (!interrupted) {
        block.draw(view.render());
        std::this_thread::sleep_for(kRedrawPeriod);
      }
    });
  }
  int status = 0;
  if (source == "/joy") {
    try {
      watchTopic(
          static_cast<int>(command_line.ros_argv.size()), command_line.ros_argv.data(), view);
    } catch (const std::exception & error) {
      interrupted = true;
      std::cerr << "tavrin_joy_mapping: " << error.what() << std::endl;
      rclcpp::shutdown();
      status = 1;
    }
  } else {
    struct sigaction action {};
    action.sa_handler = onInterrupt;
    ::sigaction(SIGINT, &action, nullptr);
    ::sigaction(SIGTERM, &action, nullptr);
    watchDevice(source, view);
  }
  if (drawer.joinable()) {
    drawer.join();
  }
  return status;
}
