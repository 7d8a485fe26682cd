# The mutants of the node's sources that `make mutate` tries, one fault each. A mutant is the
# file, its exact original text (found exactly once, or the mutant is stale) and the text put in
# its place. The list only grows at the end: a mutant's number is how results are compared
# across runs and branches.
from collections import namedtuple

Mutant = namedtuple("Mutant", "path original replacement what")

_D = "src/tavrin_arm_teleop/dispatcher.cpp"
_J = "src/tavrin_arm_teleop/joystick_decoding.cpp"
_R = "src/tavrin_arm_teleop/joystick_reader.cpp"
_N = "src/tavrin_arm_teleop/teleop_node.cpp"
_A = "src/tavrin_arm_teleop/arm_requests.cpp"
_M = "src/tavrin_arm_teleop/main.cpp"
_L = "src/logging/global_logger.cpp"

MUTANTS = [
    # the dispatcher
    Mutant(_D, "return button >= 0 &&", "return button > 0 &&",
           "button 0 never reads as pressed"),
    Mutant(_D, "  if (pressed == was_pressed) {\n    return Edge::kNone;\n  }\n", "",
           "no edge check: every sample with a button held is a new press"),
    Mutant(_D, "std::clamp(value, -1.0, 1.0)", "value", "clamp to full travel removed"),
    Mutant(_D, "return clamped == 0.0 ? 0.0 : clamped;", "return clamped;",
           "-0.0 goes out as it is"),
    Mutant(_D, "  std::lock_guard<std::mutex> lock(motion_mutex_);\n  if (!motion_closed_) {",
           "  if (!motion_closed_) {", "sample dispatch without the motion lock"),
    Mutant(_D, "switch (buttonEdge(btn_arm_grab_, grab_btn_pressed_))",
           "switch (buttonEdge(btn_arm_estop_, grab_btn_pressed_))", "grab sent by the e-stop button"),
    Mutant(_D, "msg.linear.y = motionComponent(joy_axes[1]);",
           "msg.linear.y = motionComponent(joy_axes[0]);", "linear.y from the wrong axis"),
    Mutant(_D, "return enable_button_ == kNoEnableButton || isPressed(enable_button_);",
           "return true;", "enable button gates nothing"),
    Mutant(_D, "  motion_closed_ = last;", "  motion_closed_ = last && false;",
           "the last stop command does not close motion"),
    Mutant(_D, "    teleop_mov_pub_->publish(geometry_msgs::msg::Twist());\n", "",
           "no zero motion command on loss or stop"),
    Mutant(_D,
           "off_press_edge ? kCtrlIoOff : on_press_edge ? kCtrlIoOn : ctrl_io_state",
           "on_press_edge ? kCtrlIoOn : off_press_edge ? kCtrlIoOff : ctrl_io_state",
           "I/O on wins over off when both are pressed"),
    Mutant(_D, "const bool on_press_edge = on_pressed && !ctrl_io_on_held;",
           "const bool on_press_edge = on_pressed;", "I/O on: no edge check"),
    Mutant(_D, "const double absent = isTriggerComponent(component) ? kTriggerRest : 0.0;",
           "const double absent = isTriggerComponent(component) ? 0.0 : 0.0;",
           "missing trigger reads half pulled"),
    # decoding of device events
    Mutant(_J, "if (axis >= static_cast<int64_t>(old_size) && axis < static_cast<int64_t>(size))",
           "if (axis >= 0 && axis < static_cast<int64_t>(size))",
           "growing the axes resets stored trigger values"),
    Mutant(_J, "constexpr double kAxisMax = 32767.0;", "constexpr double kAxisMax = 32768.0;",
           "full stick falls just short of full travel"),
    Mutant(_J, "return event.type == JS_EVENT_BUTTON ? HandOver::kNow : HandOver::kInWindow;",
           "return HandOver::kInWindow;", "button edges wait for the end of the window"),
    # the device reader
    Mutant(_R, "constexpr auto kIdleRepeatPeriod = 10ms;", "constexpr auto kIdleRepeatPeriod = 100ms;",
           "idle repetition every 100 ms"),
    Mutant(_R, "constexpr auto kOpenRetryPeriod = 1s;", "constexpr auto kOpenRetryPeriod = 100ms;",
           "missing device retried ten times a second"),
    Mutant(_R, "    publishZeroMotion(false);\n", "", "no stop command when the controller is lost"),
    Mutant(_R, "if (waitForStopUntil(opened + kOpenRetryPeriod)) {", "if (waitForStopUntil(opened)) {",
           "a device that ends at once is reopened in a busy loop"),
    Mutant(_R, "    if (std::chrono::steady_clock::now() >= connection.due) {",
           "    if (ready > 0 && std::chrono::steady_clock::now() >= connection.due) {",
           "an idle controller is not handed over"),
    Mutant(_R, "      } else if (!connection.window_open) {", "      } else {",
           "every axis event restarts its window"),
    # startup and teardown
    Mutant(_N, "if (!(deadzone_ >= 0.0 && deadzone_ < 1.0)) {",
           "if (!(deadzone_ >= 0.0 && deadzone_ <= 1.0)) {", "deadzone 1.0 accepted"),
    Mutant(_N, "      {2, &Impl::btn_ctrl_io_off_},\n      {3, &Impl::btn_ctrl_io_on_},",
           "      {2, &Impl::btn_ctrl_io_on_},\n      {3, &Impl::btn_ctrl_io_off_},",
           "I/O on and off buttons swapped"),
    Mutant(_N, " &&\n         !path.ends_with(kEventLinkSuffix);", ";",
           "the controller's event device is read as a joystick"),
    Mutant(_N, "  closeDevice();\n  // The endpoints go with the Impl; the arm must be told to stop before.\n"
           "  publishZeroMotion(true);\n",
           "  closeDevice();\n", "no stop command when the node is taken down"),
    Mutant(_N, "[this] { publishZeroMotion(true); });", "[] {});",
           "no stop command before a signal shuts the context down"),
    Mutant(_N, "if (node_exists.exchange(true)) {", "if (false) {",
           "a second node in the process is allowed"),
    Mutant(_N, "    std::lock_guard<std::mutex> lock(task_mutex_);\n    exit_flag_ = true;",
           "    exit_flag_ = true;", "stop request set without the lock"),
    # grab and emergency-stop requests
    Mutant(_A, "constexpr auto kActionServerWait = 3s;", "constexpr auto kActionServerWait = 1s;",
           "grab waits 1 s for its server"),
    Mutant(_A, "constexpr auto kGoalCheckPeriod = 500ms;", "constexpr auto kGoalCheckPeriod = 5s;",
           "a running goal checked every 5 s"),
    Mutant(_A, "  if (arm_grab_inprogress_) {", "  if (false) {", "grab admitted while one runs"),
    Mutant(_A, "    estop_client_->remove_pending_request(estop_client_->async_send_request(request));\n",
           "", "an unanswered e-stop is not sent again"),
    Mutant(_A, "  if (awaited_grab_goal_ != goal) {\n    return false;", "  if (goal == 0) {\n    return false;",
           "a late answer about a goal given up on still counts"),
    Mutant(_A, "    LOG_INFO(\"Goal was rejected by server\");\n    clearArmGrab();",
           "    LOG_INFO(\"Goal was rejected by server\");", "a rejected grab keeps its button busy"),
    Mutant(_A, "if (std::chrono::steady_clock::now() >= response_deadline) {",
           "if (std::chrono::steady_clock::now() >= response_deadline + std::chrono::hours(1)) {",
           "a lost goal response is waited for without end"),
    Mutant(_A, "if (answer->status == GoalStatus::STATUS_UNKNOWN) {", "if (false) {",
           "a server that no longer knows the goal is not noticed"),
    Mutant(_A, "if (stopping() || now >= deadline) {", "if (now >= deadline) {",
           "teardown does not end a request's wait"),
    Mutant(_N, "return running_workers_ == 0; });", "return running_workers_ <= 1; });",
           "teardown does not wait for the last worker"),
    # logging
    Mutant(_L, "if (facade.level <= spdlog::level::info) {", "if (facade.level < spdlog::level::info) {",
           "lines at info level are not numbered"),
    Mutant(_L, "sequence % 128", "sequence % 256", "numbers wrap at 256"),
    Mutant(_L, "  if (std::strcmp(value, \"false\") == 0) {\n    return false;",
           "  if (std::strcmp(value, \"false\") == 0) {\n    return fallback;",
           "a switch set to false keeps its default"),
    Mutant(_L, "\"SPDLOG_SYSTEMD\", false,", "\"SPDLOG_SYSTEMD\", true,",
           "the journal is on when SPDLOG_SYSTEMD is not set"),
    # the program
    Mutant(_M, "constexpr auto kTeardownDeadline = 1500ms;", "constexpr auto kTeardownDeadline = 15000ms;",
           "teardown deadline 15 s"),
    Mutant(_M, "character = character == '\\n' ? ' ' : character;",
           "character = character == '\\n' ? '\\n' : character;",
           "a startup failure may span several lines"),
]
