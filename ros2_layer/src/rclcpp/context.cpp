#include "rclcpp/context.hpp"

#include <utility>
#include <vector>

#include "arguments.hpp"
#include "context_state.hpp"
#include "participant.hpp"

namespace rclcpp {

Context::Context() : state_(std::make_shared<ros2_layer::ContextState>()) {}

Context::~Context() { shutdown("context destructor was called while still not shutdown"); }

void Context::init(int argc, char const * const * argv, const rclcpp::InitOptions & init_options) {
  if (state_->isValid()) {
    throw ContextAlreadyInitialized();
  }
  ros2_layer::ParsedArguments arguments = ros2_layer::parseArguments(argc, argv);
  ros2_layer::DomainSettings settings = ros2_layer::domainSettingsFromEnvironment();
  settings.security = ros2_layer::participantSecurityFromEnvironment(arguments.enclave);
  init_options_ = init_options;
  if (!state_->init(std::move(arguments), settings)) {
    throw ContextAlreadyInitialized();
  }
}

bool Context::is_valid() const { return state_->isValid(); }

const rclcpp::InitOptions & Context::get_init_options() const { return init_options_; }

rclcpp::InitOptions Context::get_init_options() { return init_options_; }

std::string Context::shutdown_reason() const { return state_->shutdownReason(); }

bool Context::shutdown(const std::string & reason) {
  {
    // One shutdown runs the pre-shutdown callbacks, and only while the context is valid.
    std::lock_guard<std::mutex> lock(pre_shutdown_mutex_);
    if (!state_->isValid()) {
      return false;
    }
    for (const auto & callback : pre_shutdown_callbacks_) {
      (*callback)();
    }
    if (!state_->shutdown(reason)) {
      return false;
    }
  }
  for (const OnShutdownCallback & callback : get_on_shutdown_callbacks()) {
    callback();
  }
  return true;
}

Context::OnShutdownCallback Context::on_shutdown(OnShutdownCallback callback) {
  std::lock_guard<std::mutex> lock(callbacks_mutex_);
  on_shutdown_callbacks_.push_back(callback);
  return callback;
}

std::vector<Context::OnShutdownCallback> Context::get_on_shutdown_callbacks() const {
  std::lock_guard<std::mutex> lock(callbacks_mutex_);
  return on_shutdown_callbacks_;
}

PreShutdownCallbackHandle Context::add_pre_shutdown_callback(PreShutdownCallback callback) {
  auto shared_callback = std::make_shared<PreShutdownCallback>(std::move(callback));
  std::lock_guard<std::mutex> lock(pre_shutdown_mutex_);
  pre_shutdown_callbacks_.push_back(shared_callback);
  PreShutdownCallbackHandle handle;
  handle.callback = shared_callback;
  return handle;
}

bool Context::remove_pre_shutdown_callback(const PreShutdownCallbackHandle & callback_handle) {
  const auto callback = callback_handle.callback.lock();
  std::lock_guard<std::mutex> lock(pre_shutdown_mutex_);
  return std::erase(pre_shutdown_callbacks_, callback) != 0;
}

bool Context::sleep_for(const std::chrono::nanoseconds & nanoseconds) {
  return state_->sleepFor(nanoseconds);
}

void Context::interrupt_all_sleep_for() { state_->interruptSleeps(); }

namespace contexts {

DefaultContext::SharedPtr get_global_default_context() {
  static DefaultContext::SharedPtr default_context = DefaultContext::make_shared();
  return default_context;
}

}  // namespace contexts
}  // namespace rclcpp
