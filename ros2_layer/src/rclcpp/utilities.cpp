// init, shutdown and ok, and the signal handlers that turn SIGINT and SIGTERM into a shutdown.
#include "rclcpp/utilities.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <mutex>
#include <thread>

#include "arguments.hpp"
#include "log_line.hpp"
#include "teardown.hpp"

namespace rclcpp {
namespace {

/// Signal handlers may only do async-signal-safe things: the handler writes the signal number
/// into a pipe, and a thread reads it and shuts the default context down.
class SignalHandler {
public:
  static SignalHandler & instance() {
    static SignalHandler handler;
    return handler;
  }

  ~SignalHandler() { uninstall(); }

  bool install(SignalHandlerOptions options) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (installed_) {
      return false;
    }
    if (pipe2(pipe_, O_CLOEXEC) != 0) {
      throw std::runtime_error("failed to create the signal pipe");
    }
    write_end_.store(pipe_[1]);
    options_ = options;
    thread_ = std::thread([this] { deliver(); });
    if (options == SignalHandlerOptions::All || options == SignalHandlerOptions::SigInt) {
      setHandler(SIGINT, old_sigint_);
    }
    if (options == SignalHandlerOptions::All || options == SignalHandlerOptions::SigTerm) {
      setHandler(SIGTERM, old_sigterm_);
    }
    installed_ = true;
    return true;
  }

  bool uninstall() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!installed_) {
      return false;
    }
    if (options_ == SignalHandlerOptions::All || options_ == SignalHandlerOptions::SigInt) {
      sigaction(SIGINT, &old_sigint_, nullptr);
    }
    if (options_ == SignalHandlerOptions::All || options_ == SignalHandlerOptions::SigTerm) {
      sigaction(SIGTERM, &old_sigterm_, nullptr);
    }
    write_end_.store(-1);
    const char stop = 0;
    while (write(pipe_[1], &stop, 1) < 0 && errno == EINTR) {
    }
    if (thread_.joinable() && thread_.get_id() != std::this_thread::get_id()) {
      thread_.join();
    } else if (thread_.joinable()) {
      thread_.detach();
    }
    close(pipe_[0]);
    close(pipe_[1]);
    installed_ = false;
    options_ = SignalHandlerOptions::None;
    return true;
  }

  bool installed() {
    std::lock_guard<std::mutex> lock(mutex_);
    return installed_;
  }

  SignalHandlerOptions options() {
    std::lock_guard<std::mutex> lock(mutex_);
    return options_;
  }

private:
  static void onSignal(int signal_number, siginfo_t * info, void * context) {
    SignalHandler & self = instance();
    const int saved_errno = errno;
    const int write_end = self.write_end_.load();
    if (write_end >= 0) {
      const auto byte = static_cast<char>(signal_number);
      (void)!write(write_end, &byte, 1);
    }
    const struct sigaction & old = signal_number == SIGINT ? self.old_sigint_ : self.old_sigterm_;
    if ((old.sa_flags & SA_SIGINFO) != 0 && old.sa_sigaction != nullptr) {
      old.sa_sigaction(signal_number, info, context);
    } else if (
        old.sa_handler != SIG_DFL && old.sa_handler != SIG_IGN && old.sa_handler != nullptr) {
      old.sa_handler(signal_number);
    }
    errno = saved_errno;
  }

  void setHandler(int signal_number, struct sigaction & old) {
    struct sigaction action {};
    sigemptyset(&action.sa_mask);
    action.sa_sigaction = &SignalHandler::onSignal;
    action.sa_flags = SA_SIGINFO;
    sigaction(signal_number, &action, &old);
  }

  void deliver() {
    while (true) {
      char byte = 0;
      const ssize_t count = read(pipe_[0], &byte, 1);
      if (count < 0 && errno == EINTR) {
        continue;
      }
      if (count <= 0 || byte == 0) {
        return;
      }
      ros2_layer::logLine(
          "INFO", "signal_handler(signum=" + std::to_string(static_cast<int>(byte)) + ")");
      auto context = contexts::get_global_default_context();
      if (context->get_init_options().shutdown_on_signal) {
        ros2_layer::startStopDeadline();
        context->shutdown("signal handler");
      }
    }
  }

  std::mutex mutex_;
  bool installed_ = false;
  SignalHandlerOptions options_ = SignalHandlerOptions::None;
  int pipe_[2] = {-1, -1};
  std::atomic<int> write_end_{-1};
  std::thread thread_;
  struct sigaction old_sigint_ {};
  struct sigaction old_sigterm_ {};
};

Context::SharedPtr orDefault(Context::SharedPtr context) {
  return context ? context : contexts::get_global_default_context();
}

}  // namespace

void init(
    int argc, char const * const * argv, const InitOptions & init_options,
    SignalHandlerOptions signal_handler_options) {
  contexts::get_global_default_context()->init(argc, argv, init_options);
  install_signal_handlers(signal_handler_options);
}

bool install_signal_handlers(SignalHandlerOptions signal_handler_options) {
  if (signal_handler_options == SignalHandlerOptions::None) {
    return false;
  }
  // The default context must outlive the handler thread that uses it.
  contexts::get_global_default_context();
  return SignalHandler::instance().install(signal_handler_options);
}

bool signal_handlers_installed() { return SignalHandler::instance().installed(); }

SignalHandlerOptions get_current_signal_handler_options() {
  return SignalHandler::instance().options();
}

bool uninstall_signal_handlers() { return SignalHandler::instance().uninstall(); }

std::vector<std::string> init_and_remove_ros_arguments(
    int argc, char const * const * argv, const InitOptions & init_options) {
  init(argc, argv, init_options);
  return remove_ros_arguments(argc, argv);
}

std::vector<std::string> remove_ros_arguments(int argc, char const * const * argv) {
  return ros2_layer::parseArguments(argc, argv).unparsed_arguments;
}

bool ok(Context::SharedPtr context) { return orDefault(std::move(context))->is_valid(); }

bool shutdown(Context::SharedPtr context, const std::string & reason) {
  auto default_context = contexts::get_global_default_context();
  context = orDefault(std::move(context));
  const bool result = context->shutdown(reason);
  if (context == default_context) {
    uninstall_signal_handlers();
  }
  return result;
}

void on_shutdown(std::function<void()> callback, Context::SharedPtr context) {
  orDefault(std::move(context))->on_shutdown(std::move(callback));
}

bool sleep_for(const std::chrono::nanoseconds & nanoseconds, Context::SharedPtr context) {
  return orDefault(std::move(context))->sleep_for(nanoseconds);
}

}  // namespace rclcpp
