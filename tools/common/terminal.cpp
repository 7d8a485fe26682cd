#include "terminal.hpp"

#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <stdexcept>

namespace tavrin_tools {

bool stdoutIsLiveTerminal() {
  const char * term = std::getenv("TERM");
  return ::isatty(STDOUT_FILENO) == 1 && term != nullptr && std::strcmp(term, "dumb") != 0;
}

void LiveBlock::draw(const std::vector<std::string> & lines) {
  // A line that wrapped would take two rows, and the next redraw would start a row too low.
  winsize size{};
  const bool known = ::ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 1;
  const size_t width = known ? size.ws_col - 1u : 79u;
  std::string text;
  if (drawn_ > 0) {
    text += "\r\x1b[" + std::to_string(drawn_) + "A";
  }
  for (const auto & line : lines) {
    text += line.substr(0, width) + "\x1b[K\n";
  }
  text += "\x1b[J";  // a shorter block leaves nothing of the longer one below it
  drawn_ = lines.size();
  std::fwrite(text.data(), 1, text.size(), stdout);
  std::fflush(stdout);
}

RawKeyboard::RawKeyboard() {
  if (::isatty(STDIN_FILENO) != 1 || ::tcgetattr(STDIN_FILENO, &saved_) != 0) {
    throw std::runtime_error("standard input is not a terminal: run this in a terminal (or tmux)");
  }
  termios raw = saved_;
  raw.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO | ISIG | IEXTEN);
  raw.c_iflag &= ~static_cast<tcflag_t>(IXON | ICRNL);
  raw.c_cc[VMIN] = 0;
  raw.c_cc[VTIME] = 0;
  ::tcsetattr(STDIN_FILENO, TCSANOW, &raw);
}

RawKeyboard::~RawKeyboard() { ::tcsetattr(STDIN_FILENO, TCSANOW, &saved_); }

std::string RawKeyboard::read(int timeout_ms) {
  pollfd input{STDIN_FILENO, POLLIN, 0};
  if (::poll(&input, 1, timeout_ms) <= 0) {
    return {};
  }
  char buffer[64];
  const ssize_t count = ::read(STDIN_FILENO, buffer, sizeof(buffer));
  return count > 0 ? std::string(buffer, static_cast<size_t>(count)) : std::string();
}

std::string signedValue(double value) {
  char text[16];
  // -0.00 would suggest a motion that is not there.
  std::snprintf(text, sizeof(text), "%+.2f", std::fabs(value) < 0.005 ? 0.0 : value);
  return text;
}

std::string bar(double value, int width) {
  const int half = width / 2;
  std::string cells(static_cast<size_t>(width), ' ');
  cells[static_cast<size_t>(half)] = '|';
  const int reach = static_cast<int>(std::lround(std::clamp(value, -1.0, 1.0) * half));
  for (int step = 1; step <= std::abs(reach); ++step) {
    cells[static_cast<size_t>(half + (reach > 0 ? step : -step))] = '#';
  }
  return "[" + cells + "]";
}

}  // namespace tavrin_tools
