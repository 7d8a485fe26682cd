// Whatever a joystick device sends goes through the reader's decoding and then the dispatcher.
// The input is a sequence of reads: each starts with a byte whose low bits give how many bytes
// the read returns (0 is end of file, fewer than a record is a torn record) and whose high bit
// says the 10 ms window ran out before it. The first two bytes set the dead zone.
#include <linux/joystick.h>

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "dispatcher_rig.hpp"
#include "fuzz_input.hpp"
#include "tavrin_arm_teleop/joystick_decoding.hpp"

namespace {

using tavrin_arm_teleop::HandOver;
using tavrin_fuzz::require;

const std::vector<int64_t> kAxisTable{0, 1, 2, 3, 4, 5};
const std::vector<int64_t> kButtonTable{0, 1, 2, 3, 4, 5, 6, 7};
constexpr uint8_t kWindowEnds = 0x80;
constexpr int16_t kLowestReading = -32768;

// A device sample gets its values from the decoder alone: whatever the bytes, every command is
// finite, none goes beyond full travel or the lowest reading's (which is not clamped and lies
// a little beyond), and an axis that never moved commands nothing.
void checkMotion(
    const tavrin_fuzz::Motion & motion, const std::vector<bool> & moved, double largest) {
  for (size_t component = 0; component < motion.size(); ++component) {
    require(std::isfinite(motion[component]), "every command is finite");
    require(std::fabs(motion[component]) <= largest, "no command goes beyond the lowest reading's");
    const auto axis = static_cast<size_t>(kAxisTable[component]);
    if (axis >= moved.size() || !moved[axis]) {
      require(motion[component] == 0.0, "an axis that never moved commands nothing");
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
  tavrin_fuzz::initializeProcess();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t * data, size_t size) {
  static tavrin_fuzz::DispatcherRig rig(kAxisTable, kButtonTable);
  tavrin_fuzz::FuzzInput input(data, size);
  const auto deadzone_fraction = input.take<uint16_t>();
  const tavrin_arm_teleop::AxisScaling scaling(deadzone_fraction / 65536.0);
  sensor_msgs::msg::Joy sample;
  std::vector<bool> moved(256, false);
  bool pending = false;
  const double largest = std::max(1.0, static_cast<double>(scaling(kLowestReading)));
  const auto handOver = [&] { checkMotion(rig.dispatch(sample), moved, largest); };
  while (!input.empty()) {
    const auto read = input.take<uint8_t>();
    if ((read & kWindowEnds) != 0 && pending) {
      handOver();
      pending = false;
    }
    const size_t count = (read & ~kWindowEnds) % (sizeof(js_event) + 1);
    if (count == 0) {
      break;  // end of file
    }
    js_event event{};
    if (input.take(&event, count) != sizeof(event)) {
      continue;  // the reader drops a torn record
    }
    switch (tavrin_arm_teleop::applyJoystickEvent(event, scaling, kAxisTable, sample)) {
      case HandOver::kNow:
        handOver();
        pending = false;
        break;
      case HandOver::kInWindow:
        pending = true;
        break;
      case HandOver::kUnknown:
        break;
    }
    if (event.type == JS_EVENT_AXIS) {
      moved[event.number] = true;
    }
  }
  if (pending) {
    handOver();
  }
  return 0;
}
