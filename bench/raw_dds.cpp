#include "raw_dds.hpp"

#include <time.h>

#include <chrono>
#include <cstddef>
#include <thread>

namespace tavrin_bench {

namespace {

// As the client layer and rmw_cyclonedds configure a localhost-only domain.
constexpr char kLoopbackConfig[] =
    "<CycloneDDS><Domain><General><Interfaces><NetworkInterface address=\"127.0.0.1\"/>"
    "</Interfaces></General></Domain></CycloneDDS>";

// C++20 deprecates mixing the descriptor's enumerations, so each goes in as a number.
constexpr uint32_t op(uint32_t code) { return code; }
const uint32_t kPingOps[] = {
    op(DDS_OP_ADR) | op(DDS_OP_TYPE_8BY) | op(DDS_OP_FLAG_SGN), offsetof(Ping, sent_ns),
    op(DDS_OP_ADR) | op(DDS_OP_TYPE_4BY), offsetof(Ping, sequence), op(DDS_OP_RTS)};
const dds_topic_descriptor_t kPingDescriptor = {sizeof(Ping),
                                                alignof(Ping),
                                                DDS_TOPIC_FIXED_SIZE,
                                                0u,
                                                "tavrin_bench::Ping",
                                                nullptr,
                                                3,
                                                kPingOps,
                                                "",
                                                {nullptr, 0},
                                                {nullptr, 0},
                                                0};

}  // namespace

int64_t monotonicNs() {
  timespec now{};
  ::clock_gettime(CLOCK_MONOTONIC, &now);
  return now.tv_sec * 1000000000LL + now.tv_nsec;
}

RawDomain::RawDomain(int domain_id) : RawDomain(domain_id, kPingDescriptor, "tavrin_bench_ping") {}

RawDomain::RawDomain(int domain_id, const dds_topic_descriptor_t & type, const char * topic_name)
    : domain_(dds_create_domain(domain_id, kLoopbackConfig))
    , participant_(dds_create_participant(domain_id, nullptr, nullptr))
    , topic_(dds_create_topic(participant_, &type, topic_name, nullptr, nullptr))
    , qos_(dds_create_qos()) {
  dds_qset_reliability(qos_, DDS_RELIABILITY_RELIABLE, DDS_SECS(1));
  dds_qset_history(qos_, DDS_HISTORY_KEEP_LAST, 10);
}

RawDomain::~RawDomain() {
  dds_delete_qos(qos_);
  dds_delete(domain_);
}

dds_entity_t RawDomain::createWriter() const {
  return dds_create_writer(participant_, topic_, qos_, nullptr);
}

bool RawDomain::waitForReader(dds_entity_t writer) {
  dds_publication_matched_status_t matched{};
  for (int i = 0; i < 1000 && matched.current_count == 0; ++i) {
    dds_get_publication_matched_status(writer, &matched);
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return matched.current_count > 0;
}

dds_entity_t RawDomain::createReader() const {
  return dds_create_reader(participant_, topic_, qos_, nullptr);
}

}  // namespace tavrin_bench
