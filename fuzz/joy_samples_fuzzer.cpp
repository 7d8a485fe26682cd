// Samples from "/joy" come from any peer on the domain, and the remap tables from the operator's
// files: both go through the dispatcher. The input starts with a byte that picks one of 256
// pairs of remap tables, then holds up to four samples (a byte with the axis and the button
// count, then raw float axes and int32 buttons). A node is started once per pair of tables in a
// row: starting one per input would leave the fuzzer a few dozen inputs a second.
#include <array>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "dispatcher_rig.hpp"
#include "fuzz_input.hpp"

namespace {

using tavrin_fuzz::require;

constexpr size_t kComponents = 6;
constexpr size_t kSamplesPerInput = 4;

struct RemapTables {
  std::vector<int64_t> joy_axis;
  std::vector<int64_t> joy_btns;
};

// Pair 0 holds the defaults; the others are short, long, negative, out of range, at both ends
// of int64, with repeated entries and triggers on other components.
RemapTables remapTables(uint8_t index) {
  if (index == 0) {
    return {{0, 1, 2, 3, 4, 5}, {0, 1, 2, 3, 4, 5, 6, 7}};
  }
  static constexpr int64_t kLowest = std::numeric_limits<int64_t>::min();
  static constexpr int64_t kHighest = std::numeric_limits<int64_t>::max();
  static constexpr int64_t kEntries[] = {-1, 0, 1, 2, 3, 4, 5, 6, 7, 8, 40, -2, kLowest, kHighest};
  std::minstd_rand random(index);
  const auto table = [&random](size_t longest) {
    std::vector<int64_t> entries(random() % (longest + 1));
    for (int64_t & entry : entries) {
      entry = kEntries[random() % std::size(kEntries)];
    }
    return entries;
  };
  RemapTables tables;
  tables.joy_axis = table(kComponents + 2);
  tables.joy_btns = table(10);
  return tables;
}

bool isMissing(const sensor_msgs::msg::Joy & sample, int64_t axis) {
  return axis < 0 || static_cast<uint64_t>(axis) >= sample.axes.size() ||
         !std::isfinite(sample.axes[axis]);
}

// Remap tables are read once, at startup: a node runs with one pair of tables, and another
// pair needs another node. Only one node may exist in a process, so it is replaced.
tavrin_fuzz::DispatcherRig & rigFor(uint8_t index, const RemapTables & tables) {
  static std::unique_ptr<tavrin_fuzz::DispatcherRig> rig;
  static int rig_index = -1;
  if (rig_index != index) {
    rig.reset();
    rig = std::make_unique<tavrin_fuzz::DispatcherRig>(tables.joy_axis, tables.joy_btns);
    rig_index = index;
  }
  return *rig;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
  tavrin_fuzz::initializeProcess();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t * data, size_t size) {
  tavrin_fuzz::FuzzInput input(data, size);
  const auto index = input.take<uint8_t>();
  const RemapTables tables = remapTables(index);
  const std::vector<int64_t> & joy_axis = tables.joy_axis;
  auto & rig = rigFor(index, tables);
  // A few samples carry every button edge; each one costs a trip through DDS.
  for (size_t count = 0; count < kSamplesPerInput && (count == 0 || !input.empty()); ++count) {
    sensor_msgs::msg::Joy sample;
    const auto counts = input.take<uint8_t>();
    sample.axes.resize(counts & 0x0f);
    sample.buttons.resize(counts >> 4);
    for (float & axis : sample.axes) {
      axis = input.take<float>();
    }
    for (int32_t & button : sample.buttons) {
      button = input.take<int32_t>();
    }
    const tavrin_fuzz::Motion motion = rig.dispatch(sample);
    for (size_t component = 0; component < kComponents; ++component) {
      require(std::isfinite(motion[component]), "every command is finite");
      // Entries beyond a short table are the node's to fill in.
      if (component < joy_axis.size() && isMissing(sample, joy_axis[component])) {
        require(motion[component] == 0.0, "a missing axis never moves");
      }
    }
  }
  return 0;
}
