#include "node_state.hpp"

#include <algorithm>

#include "dds_error.hpp"
#include "names.hpp"

namespace ros2_layer {
namespace {

const char * const kCreateNodeError = "failed to create node";

std::vector<const char *> argumentPointers(const std::vector<std::string> & arguments) {
  std::vector<const char *> pointers{"node"};
  for (const std::string & argument : arguments) {
    pointers.push_back(argument.c_str());
  }
  return pointers;
}

/// The node's own arguments come first: the first matching remap rule wins and the last
/// parameter override wins.
ParsedArguments combinedArguments(
    const ContextState & context, const rclcpp::NodeOptions & options) {
  ParsedArguments combined;
  if (!options.arguments().empty()) {
    const std::vector<const char *> pointers = argumentPointers(options.arguments());
    combined = parseArguments(
        static_cast<int>(pointers.size()), pointers.data(), "failed to parse arguments");
  }
  if (options.use_global_arguments()) {
    ParsedArguments global = context.arguments();
    combined.remaps.insert(combined.remaps.end(), global.remaps.begin(), global.remaps.end());
    combined.parameter_overrides.insert(
        combined.parameter_overrides.begin(), global.parameter_overrides.begin(),
        global.parameter_overrides.end());
  }
  for (const rclcpp::Parameter & parameter : options.parameter_overrides()) {
    combined.parameter_overrides.push_back(
        ParameterOverride{"/**", parameter.get_name(), parameter.get_parameter_value()});
  }
  return combined;
}

}  // namespace

NodeState::NodeState(
    const std::string & node_name, const std::string & namespace_,
    const rclcpp::NodeOptions & options)
    : context_(
          options.context() ? options.context() : rclcpp::contexts::get_global_default_context())
    , context_state_(ContextAccess::state(*context_)) {
  if (!context_state_->isValid()) {
    throwLayerError(kCreateNodeError, "the context is not initialized or has been shut down");
  }
  ParsedArguments arguments = combinedArguments(*context_state_, options);
  remap_rules_ = std::move(arguments.remaps);
  validateNodeName(node_name);
  name_ = remapNodeName(remap_rules_, node_name);
  validateNodeName(name_);
  node_namespace_ =
      normalizeNamespace(remapNamespace(remap_rules_, name_, normalizeNamespace(namespace_)));
  fully_qualified_name_ = (node_namespace_ == "/" ? "/" : node_namespace_ + "/") + name_;
  parameter_overrides_ =
      parameterOverridesFor(arguments.parameter_overrides, fully_qualified_name_);
  participant_ = context_state_->participant(kCreateNodeError);
  notify_condition_ = Entity(checkDds(
      dds_create_guardcondition(DDS_CYCLONEDDS_HANDLE), "failed to create a guard condition"));
  graph_key_ = participant_->addNode(name_, node_namespace_);
}

NodeState::~NodeState() { participant_->removeNode(graph_key_); }

std::string NodeState::resolveName(const std::string & name, bool is_service) const {
  const std::string expanded = expandTopicName(name, name_, node_namespace_, is_service);
  validateFullTopicName(expanded, is_service);
  const std::string remapped = remapName(
      remap_rules_, expanded, name_, node_namespace_,
      is_service ? RemapTarget::service : RemapTarget::topic);
  validateFullTopicName(remapped, is_service);
  return remapped;
}

void NodeState::addWaitable(const std::shared_ptr<Waitable> & waitable) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    waitables_.push_back(waitable);
    ++generation_;
  }
  dds_set_guardcondition(notify_condition_.get(), true);
}

void NodeState::waitableRemoved() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    std::erase_if(
        waitables_, [](const std::weak_ptr<Waitable> & entry) { return entry.expired(); });
    ++generation_;
  }
  dds_set_guardcondition(notify_condition_.get(), true);
}

std::vector<std::shared_ptr<Waitable>> NodeState::waitables(uint64_t & generation) const {
  std::lock_guard<std::mutex> lock(mutex_);
  generation = generation_.load();
  std::vector<std::shared_ptr<Waitable>> live;
  for (const std::weak_ptr<Waitable> & entry : waitables_) {
    if (auto waitable = entry.lock()) {
      live.push_back(std::move(waitable));
    }
  }
  return live;
}

void NodeState::announceEndpoint(const Gid & gid, bool is_writer) {
  participant_->addEndpoint(graph_key_, gid, is_writer);
}

void NodeState::withdrawEndpoint(const Gid & gid, bool is_writer) {
  participant_->removeEndpoint(graph_key_, gid, is_writer);
}

}  // namespace ros2_layer
