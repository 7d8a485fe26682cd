// What an executor waits for: an entity that owns a DDS condition and runs callbacks.
#pragma once

#include <cstdint>

namespace ros2_layer {

/// An entity whose work an executor waits for and runs on its own thread.
class Waitable {
public:
  virtual ~Waitable() = default;
  /// The DDS condition that triggers while there is work.
  virtual int32_t condition() const = 0;
  /// Takes one sample and runs its callback; false when there was nothing to run.
  virtual bool execute() = 0;
};

}  // namespace ros2_layer
