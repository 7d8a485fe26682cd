// A fuzzer's input read front to back; reads past its end give zero bytes.
#ifndef TAVRIN_FUZZ__FUZZ_INPUT_HPP_
#define TAVRIN_FUZZ__FUZZ_INPUT_HPP_

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>

namespace tavrin_fuzz {

/// The bytes of one input, taken in order.
class FuzzInput {
public:
  FuzzInput(const uint8_t * data, size_t size) : data_(data), size_(size) {}

  /// Whether every byte has been taken.
  bool empty() const { return position_ == size_; }

  /// Copies up to `count` bytes into `destination` and tells how many there were.
  size_t take(void * destination, size_t count) {
    const size_t taken = std::min(count, size_ - position_);
    std::memcpy(destination, data_ + position_, taken);
    position_ += taken;
    return taken;
  }

  /// The next value, its missing bytes zero.
  template <typename Value>
  Value take() {
    Value value{};
    take(&value, sizeof(value));
    return value;
  }

private:
  const uint8_t * data_;
  size_t size_;
  size_t position_ = 0;
};

}  // namespace tavrin_fuzz

#endif  // TAVRIN_FUZZ__FUZZ_INPUT_HPP_
