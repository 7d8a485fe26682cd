// Terminal output for the tools' live views, and the keyboard controller's raw input.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include <termios.h>

namespace tavrin_tools {

/// True when standard output is a terminal that can redraw in place (not a file, pipe or
/// TERM=dumb): live views redraw there, and print one plain line per event elsewhere.
bool stdoutIsLiveTerminal();

/// A block of lines redrawn in place on the terminal, below what was printed before it.
class LiveBlock {
public:
  /// Replaces the block on the screen with `lines`.
  void draw(const std::vector<std::string> & lines);

private:
  size_t drawn_ = 0;
};

/// Standard input in raw mode (keys arrive one by one, unechoed, Ctrl-C as a key) while this
/// object lives; the previous settings return when it goes.
class RawKeyboard {
public:
  /// Throws std::runtime_error when standard input is no terminal.
  RawKeyboard();
  ~RawKeyboard();

  RawKeyboard(const RawKeyboard &) = delete;
  RawKeyboard & operator=(const RawKeyboard &) = delete;

  /// The bytes typed within `timeout_ms`, possibly none.
  std::string read(int timeout_ms);

private:
  termios saved_{};
};

/// `value` with a sign and two decimals: "+0.50".
std::string signedValue(double value);
/// A bar of `width` characters for a value in -1..+1, centre marked: "[   |##  ]".
std::string bar(double value, int width = 9);

}  // namespace tavrin_tools
