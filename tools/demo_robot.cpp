// The arm's side of the demo: serves the emergency-stop service and the arm task action, and
// shows what the arm receives from the teleop node. On a terminal the view is redrawn in place;
// elsewhere (a pipe, a CI log) it prints one line per event.
//
//   tavrin_demo_robot [--plain | --live] [--follow FILE] [--estop answer|silent|none]
//     --follow FILE  show the last line of FILE under the view (the demo's operator narration)
//     --estop MODE   answer e-stop requests (the default), take them and never answer (a stop
//                    controller that hangs), or serve no e-stop service at all
#include <array>
#include <atomic>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <deque>
#include <fstream>
#include <iostream>
#include <mutex>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "common/command_line.hpp"
#include "common/terminal.hpp"
#include "geometry_msgs/msg/twist.hpp"
#include "rclcpp/rclcpp.hpp"
#include "rclcpp_action/rclcpp_action.hpp"
#include "std_msgs/msg/bool.hpp"
#include "std_msgs/msg/int32_multi_array.hpp"
#include "std_msgs/msg/string.hpp"
#include "std_srvs/srv/set_bool.hpp"
#include "tavrin_protocol/action/arm_task_decision.hpp"

namespace {

using namespace std::chrono_literals;
using tavrin_tools::signedValue;
using ArmTaskDecision = tavrin_protocol::action::ArmTaskDecision;
using GoalHandle = rclcpp_action::ServerGoalHandle<ArmTaskDecision>;
using Clock = std::chrono::steady_clock;

constexpr int32_t kTrashGrab = 1;
constexpr int32_t kCtrlIoChannel = 100;
constexpr auto kStageTime = 300ms;
constexpr auto kRedrawPeriod = 100ms;
constexpr size_t kRecentEvents = 6;
// A motion command that differs from the last reported one by less is not a new event.
constexpr double kMotionResolution = 0.005;

/// How the emergency-stop service treats a request.
enum class EstopMode { kAnswer, kSilent, kNone };

struct GrabStage {
  int32_t run_stage;
  const char * doing;
};
constexpr std::array<GrabStage, 4> kGrabStages{{
    {1, "reaching for the object"},
    {2, "gripping"},
    {3, "lifting"},
    {4, "dropping it in the bin"},
}};

std::array<double, 6> components(const geometry_msgs::msg::Twist & twist) {
  return {twist.linear.x,  twist.linear.y,  twist.linear.z,
          twist.angular.x, twist.angular.y, twist.angular.z};
}

std::string motionText(const std::array<double, 6> & motion) {
  return "linear x " + signedValue(motion[0]) + " y " + signedValue(motion[1]) + " z " +
         signedValue(motion[2]) + "  angular x " + signedValue(motion[3]) + " y " +
         signedValue(motion[4]) + " z " + signedValue(motion[5]);
}

std::string seconds(Clock::duration since_start) {
  char text[16];
  std::snprintf(text, sizeof(text), "%6.2f s", std::chrono::duration<double>(since_start).count());
  return text;
}

/// Everything the arm has received, shown as a live view or as event lines; thread-safe.
class ArmView {
public:
  explicit ArmView(bool live) : live_(live) {}

  void motion(const geometry_msgs::msg::Twist & twist) {
    std::lock_guard<std::mutex> lock(mutex_);
    const auto motion = components(twist);
    ++motion_count_;
    motion_ = motion;
    bool changed = motion_count_ == 1;
    for (size_t i = 0; i < motion.size(); ++i) {
      changed = changed || std::abs(motion[i] - reported_motion_[i]) >= kMotionResolution;
    }
    if (changed) {
      reported_motion_ = motion;
      eventLocked("motion    " + motionText(motion));
    }
  }

  void space(bool joint) {
    std::lock_guard<std::mutex> lock(mutex_);
    space_ = joint ? "joint" : "cartesian";
    eventLocked("space     " + space_);
  }

  void controlIo(const std::vector<int32_t> & data) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (data.size() == 2 && data[0] == kCtrlIoChannel && (data[1] == 0 || data[1] == 1)) {
      control_io_ = data[1] == 1 ? "on" : "off";
      eventLocked("I/O       100 " + control_io_);
      return;
    }
    std::string text;
    for (const int32_t value : data) {
      text += " " + std::to_string(value);
    }
    eventLocked("I/O       unexpected command:" + text);
  }

  void emergencyStop(bool data, bool answered) {
    std::lock_guard<std::mutex> lock(mutex_);
    ++estop_requests_;
    if (!answered) {
      eventLocked(
          std::string("e-stop    request data=") + (data ? "true" : "false") + ": not answered");
      return;
    }
    if (data) {
      stopped_ = true;
    }
    eventLocked(std::string("e-stop    request data=") + (data ? "true: arm stopped" : "false"));
  }

  void task(const std::string & state, const std::string & event) {
    std::lock_guard<std::mutex> lock(mutex_);
    task_ = state;
    eventLocked("task      " + event);
  }

  void otherTopic(const std::string & text) {
    std::lock_guard<std::mutex> lock(mutex_);
    eventLocked(text);
  }

  /// The live view's lines, with `operator_line` (the operator's narration) under it.
  std::vector<std::string> render(const std::string & operator_line) {
    std::lock_guard<std::mutex> lock(mutex_);
    const auto now = Clock::now();
    if (now - rate_since_ >= 1s) {
      rate_ = static_cast<double>(motion_count_ - rate_count_) /
              std::chrono::duration<double>(now - rate_since_).count();
      rate_since_ = now;
      rate_count_ = motion_count_;
    }
    char rate[64];
    std::snprintf(rate, sizeof(rate), "%zu received, %.0f per second", motion_count_, rate_);
    std::vector<std::string> lines{
        "  Tavrin arm - demo robot: what the arm receives" + std::string(18, ' ') +
            seconds(now - start_),
        "  ---------------------------------------------------------------------------",
        "  motion command  linear   x " + axis(0) + "  y " + axis(1) + "  z " + axis(2),
        "                  angular  x " + axis(3) + "  y " + axis(4) + "  z " + axis(5),
        std::string("                  ") + rate,
        "  control space   " + space_,
        "  control I/O 100 " + control_io_,
        "  grab task       " + task_,
        "  emergency stop  " + emergencyStopText(),
        "  ---------------------------------------------------------------------------",
        "  operator        " + operator_line,
        "  recent events",
    };
    for (const auto & event : recent_) {
      lines.push_back("   " + event);
    }
    return lines;
  }

private:
  std::string emergencyStopText() const {
    if (estop_requests_ == 0) {
      return "-";
    }
    const std::string requests =
        std::to_string(estop_requests_) + (estop_requests_ == 1 ? " request" : " requests");
    return stopped_ ? "STOPPED (" + requests + ")" : requests + ", none to stop";
  }

  std::string axis(size_t component) const {
    return signedValue(motion_[component]) + " " + tavrin_tools::bar(motion_[component]);
  }

  void eventLocked(const std::string & text) {
    const std::string line = seconds(Clock::now() - start_) + "  " + text;
    if (!live_) {
      std::cout << "robot " << line << std::endl;
      return;
    }
    recent_.push_back(line);
    if (recent_.size() > kRecentEvents) {
      recent_.pop_front();
    }
  }

  const bool live_;
  const Clock::time_point start_ = Clock::now();
  std::mutex mutex_;
  std::array<double, 6> motion_{};
  std::array<double, 6> reported_motion_{};
  size_t motion_count_ = 0;
  size_t rate_count_ = 0;
  double rate_ = 0.0;
  Clock::time_point rate_since_ = start_;
  std::string space_ = "-";
  std::string control_io_ = "-";
  std::string task_ = "idle";
  size_t estop_requests_ = 0;
  bool stopped_ = false;
  std::deque<std::string> recent_;
};

/// The arm's endpoints: subscriptions to the node's topics, the emergency-stop service and the
/// arm task action server, which plays the grab's stages and succeeds.
class DemoRobot {
public:
  DemoRobot(const rclcpp::Node::SharedPtr & node, ArmView & view, EstopMode estop)
      : node_(node), view_(view) {
    subscribe();
    serveEstop(estop);
    arm_task_server_ = rclcpp_action::create_server<ArmTaskDecision>(
        node_, "/tavrinpro_action/arm_task",
        [this](const rclcpp_action::GoalUUID &, std::shared_ptr<const ArmTaskDecision::Goal> goal) {
          return decide(*goal);
        },
        [](std::shared_ptr<GoalHandle>) { return rclcpp_action::CancelResponse::ACCEPT; },
        [this](std::shared_ptr<GoalHandle> goal_handle) {
          std::lock_guard<std::mutex> lock(tasks_mutex_);
          // One grab at a time: the one before has ended. Its thread is joined now, not at
          // shutdown, or a robot that runs for days would keep a stack per grab it ever did.
          for (auto & task : tasks_) {
            task.join();
          }
          tasks_.clear();
          tasks_.emplace_back([this, goal_handle] { runGrab(goal_handle); });
        });
  }

  ~DemoRobot() {
    {
      std::lock_guard<std::mutex> lock(tasks_mutex_);
      stopping_ = true;
    }
    wake_.notify_all();
    for (auto & task : tasks_) {
      task.join();
    }
  }

  DemoRobot(const DemoRobot &) = delete;
  DemoRobot & operator=(const DemoRobot &) = delete;

private:
  void serveEstop(EstopMode mode) {
    using SetBool = std_srvs::srv::SetBool;
    if (mode == EstopMode::kSilent) {
      // The deferred-response form: the request is taken and no answer is ever sent.
      estop_service_ = node_->create_service<SetBool>(
          "/robot/estop_service",
          [this](std::shared_ptr<rmw_request_id_t>, std::shared_ptr<SetBool::Request> request) {
            view_.emergencyStop(request->data, false);
          });
    } else if (mode == EstopMode::kAnswer) {
      estop_service_ = node_->create_service<SetBool>(
          "/robot/estop_service", [this](
                                      std::shared_ptr<SetBool::Request> request,
                                      std::shared_ptr<SetBool::Response> response) {
            view_.emergencyStop(request->data, true);
            response->success = true;
            response->message = request->data ? "arm stopped" : "nothing to do";
          });
    }
  }

  void subscribe() {
    subscriptions_.push_back(node_->create_subscription<geometry_msgs::msg::Twist>(
        "/robot/teleop_mov_topic", rclcpp::QoS(10),
        [this](std::shared_ptr<const geometry_msgs::msg::Twist> twist) { view_.motion(*twist); }));
    subscriptions_.push_back(node_->create_subscription<std_msgs::msg::Bool>(
        "/robot/teleop_space_exchange_topic", rclcpp::QoS(10),
        [this](std::shared_ptr<const std_msgs::msg::Bool> joint) { view_.space(joint->data); }));
    subscriptions_.push_back(node_->create_subscription<std_msgs::msg::Int32MultiArray>(
        "/robot/ctrl_io_topic", rclcpp::QoS(10),
        [this](std::shared_ptr<const std_msgs::msg::Int32MultiArray> command) {
          view_.controlIo(command->data);
        }));
    // The node only advertises these two; anything arriving on them is worth seeing.
    subscriptions_.push_back(node_->create_subscription<std_msgs::msg::String>(
        "/robot/stop_topic", rclcpp::QoS(10),
        [this](std::shared_ptr<const std_msgs::msg::String> text) {
          view_.otherTopic("stop      " + text->data);
        }));
    subscriptions_.push_back(node_->create_subscription<std_msgs::msg::Bool>(
        "/robot/recover_topic", rclcpp::QoS(10),
        [this](std::shared_ptr<const std_msgs::msg::Bool> flag) {
          view_.otherTopic(std::string("recover   ") + (flag->data ? "true" : "false"));
        }));
  }

  rclcpp_action::GoalResponse decide(const ArmTaskDecision::Goal & goal) {
    const std::string task = "task_type " + std::to_string(goal.task_type);
    if (goal.task_type != kTrashGrab) {
      view_.task("idle", "goal rejected: unknown " + task);
      return rclcpp_action::GoalResponse::REJECT;
    }
    if (busy_.exchange(true)) {
      view_.task("busy", "goal rejected: a grab is running");
      return rclcpp_action::GoalResponse::REJECT;
    }
    view_.task("accepted", "goal accepted: trash grab (" + task + ")");
    return rclcpp_action::GoalResponse::ACCEPT_AND_EXECUTE;
  }

  void runGrab(const std::shared_ptr<GoalHandle> & goal_handle) {
    auto result = std::make_shared<ArmTaskDecision::Result>();
    for (const auto & stage : kGrabStages) {
      const std::string doing = "stage " + std::to_string(stage.run_stage) + " of " +
                                std::to_string(kGrabStages.size()) + ": " + stage.doing;
      view_.task(doing, doing);
      auto feedback = std::make_shared<ArmTaskDecision::Feedback>();
      feedback->run_stage = stage.run_stage;
      goal_handle->publish_feedback(feedback);
      std::unique_lock<std::mutex> lock(tasks_mutex_);
      if (wake_.wait_for(lock, kStageTime, [this, &goal_handle] {
            return stopping_ || goal_handle->is_canceling();
          })) {
        lock.unlock();
        finishEarly(goal_handle, result);
        return;
      }
    }
    result->status = true;
    result->status_code = 0;
    result->errmsg = "";
    goal_handle->succeed(result);
    view_.task("done", "succeeded: object in the bin");
    busy_ = false;
  }

  void finishEarly(
      const std::shared_ptr<GoalHandle> & goal_handle,
      const ArmTaskDecision::Result::SharedPtr & result) {
    try {
      if (goal_handle->is_canceling()) {
        goal_handle->canceled(result);
        view_.task("canceled", "canceled");
      } else {
        goal_handle->abort(result);
        view_.task("aborted", "aborted: the robot shuts down");
      }
    } catch (const std::exception & error) {
      // Shutting down: the client is told nothing more either way.
      view_.task("aborted", std::string("ended at shutdown: ") + error.what());
    }
    busy_ = false;
  }

  rclcpp::Node::SharedPtr node_;
  ArmView & view_;
  std::vector<rclcpp::SubscriptionBase::SharedPtr> subscriptions_;
  rclcpp::Service<std_srvs::srv::SetBool>::SharedPtr estop_service_;
  rclcpp_action::Server<ArmTaskDecision>::SharedPtr arm_task_server_;
  std::atomic<bool> busy_{false};
  std::mutex tasks_mutex_;
  std::condition_variable wake_;
  bool stopping_ = false;
  std::vector<std::thread> tasks_;
};

/// The last complete line of a file, read again on every call (the narration grows meanwhile),
/// without the "controller" tag and time stamp that the demo's controller puts in front.
std::string lastLine(const std::string & path) {
  std::ifstream file(path);
  std::string line;
  std::string last;
  while (std::getline(file, line)) {
    if (!file.eof() && !line.empty()) {
      last = line;
    }
  }
  static const std::regex kTag(R"(^controller +([0-9.]+ s +)?)");
  return std::regex_replace(last, kTag, "");
}

struct Options {
  bool live = tavrin_tools::stdoutIsLiveTerminal();
  std::string follow;
  EstopMode estop = EstopMode::kAnswer;
};

Options parseOptions(const std::vector<std::string> & arguments) {
  Options options;
  for (size_t i = 1; i < arguments.size(); ++i) {
    if (arguments[i] == "--plain") {
      options.live = false;
    } else if (arguments[i] == "--live") {
      options.live = true;
    } else if (arguments[i] == "--follow" && i + 1 < arguments.size()) {
      options.follow = arguments[++i];
    } else if (arguments[i] == "--estop" && i + 1 < arguments.size()) {
      const std::string & mode = arguments[++i];
      if (mode == "answer") {
        options.estop = EstopMode::kAnswer;
      } else if (mode == "silent") {
        options.estop = EstopMode::kSilent;
      } else if (mode == "none") {
        options.estop = EstopMode::kNone;
      } else {
        throw std::invalid_argument("--estop takes answer, silent or none, not " + mode);
      }
    } else if (arguments[i] == "--help") {
      throw std::invalid_argument(
          "usage: tavrin_demo_robot [--plain | --live] [--follow FILE] [--estop answer|silent|none]: the demo's arm, which "
          "serves the emergency stop and the arm task and shows what it receives");
    } else {
      throw std::invalid_argument(
          "unknown argument " + arguments[i] +
          "; usage: tavrin_demo_robot [--plain | --live] [--follow FILE] "
          "[--estop answer|silent|none]");
    }
  }
  return options;
}

void drawUntilShutdown(ArmView & view, const Options & options) {
  tavrin_tools::LiveBlock block;
  while (rclcpp::ok()) {
    block.draw(view.render(options.follow.empty() ? "-" : lastLine(options.follow)));
    std::this_thread::sleep_for(kRedrawPeriod);
  }
  block.draw(view.render(options.follow.empty() ? "-" : lastLine(options.follow)));
}

}  // namespace

int main(int argc, char ** argv) {
  const auto command_line = tavrin_tools::splitCommandLine(argc, argv);
  Options options;
  try {
    options = parseOptions(command_line.options);
  } catch (const std::exception & error) {
    std::cerr << error.what() << std::endl;
    return 2;
  }
  ArmView view(options.live);
  try {
    rclcpp::init(static_cast<int>(command_line.ros_argv.size()), command_line.ros_argv.data());
    auto node = std::make_shared<rclcpp::Node>("demo_robot");
    DemoRobot robot(node, view, options.estop);
    if (!options.live) {
      static constexpr std::array<const char *, 3> kEstopServes{
          "/robot/estop_service", "/robot/estop_service (never answering)", "no e-stop service"};
      std::cout << "robot serves " << kEstopServes[static_cast<size_t>(options.estop)]
                << " and /tavrinpro_action/arm_task and listens to the /robot/* command topics"
                << std::endl;
    }
    std::thread drawer;
    if (options.live) {
      drawer = std::thread([&] { drawUntilShutdown(view, options); });
    }
    rclcpp::spin(node);
    if (drawer.joinable()) {
      drawer.join();
    }
  } catch (const std::exception & error) {
    std::cerr << "tavrin_demo_robot: " << error.what() << std::endl;
    rclcpp::shutdown();
    return 1;
  }
  rclcpp::shutdown();
  return 0;
}
