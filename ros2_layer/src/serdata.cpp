// The sertype/serdata pair that lets dds_write and dds_take work on C++ message objects. The
// serialised form is exactly what rmw_cyclonedds sends, including its padding to 4 bytes.
#include "serdata.hpp"

#include <dds/dds.h>
#include <dds/ddsi/ddsi_serdata.h>
#include <dds/ddsi/ddsi_sertype.h>
#include <dds/ddsi/q_radmin.h>

#include <cstdio>
#include <cstring>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

namespace ros2_layer {
namespace {

class SerdataPool;

struct MessageSerdata : ddsi_serdata {
  MessageSerdata(const ddsi_sertype * type, ddsi_serdata_kind kind) : ddsi_serdata{} {
    ddsi_serdata_init(this, type, kind);
  }
  std::vector<uint8_t> bytes;
  // Where the sample goes back to once Cyclone lets go of it; none for key-only samples.
  std::shared_ptr<SerdataPool> pool;
};

// Samples of one type that Cyclone has let go of, kept with their buffers: a steady stream of
// writes or receptions then allocates nothing here. Cyclone frees a sample on whichever thread
// drops the last reference to it, and does not keep the sertype alive for its samples: each sample
// holds the pool, which goes with the last of them.
class SerdataPool {
public:
  SerdataPool() { idle_.reserve(kCapacity); }

  static MessageSerdata * take(
      const std::shared_ptr<SerdataPool> & pool, const ddsi_sertype * type,
      ddsi_serdata_kind kind) {
    std::unique_ptr<MessageSerdata> data;
    {
      std::lock_guard<std::mutex> lock(pool->mutex_);
      if (!pool->idle_.empty()) {
        data = std::move(pool->idle_.back());
        pool->idle_.pop_back();
      }
    }
    if (data) {
      ddsi_serdata_init(data.get(), type, kind);
      data->bytes.clear();
    } else {
      data = std::make_unique<MessageSerdata>(type, kind);
    }
    data->pool = pool;
    return data.release();
  }

  static void giveBack(MessageSerdata * released) {
    std::unique_ptr<MessageSerdata> data(released);
    // The sample may hold the last reference to the pool: the pool goes after it is stored.
    const std::shared_ptr<SerdataPool> pool = std::move(data->pool);
    if (data->bytes.capacity() > kLargestKept) {
      return;
    }
    std::lock_guard<std::mutex> lock(pool->mutex_);
    if (pool->idle_.size() < kCapacity) {
      pool->idle_.push_back(std::move(data));
    }
  }

private:
  // Beyond a writer's history and what is in flight; a burst beyond it allocates again.
  static constexpr size_t kCapacity = 32;
  // A rare large message does not keep its buffer.
  static constexpr size_t kLargestKept = 64 * 1024;

  std::mutex mutex_;
  std::vector<std::unique_ptr<MessageSerdata>> idle_;
};

struct MessageSertype : ddsi_sertype {
  MessageSertype() : ddsi_sertype{} {}
  const MessageMembers * members = nullptr;
  bool request_header = false;
  std::shared_ptr<SerdataPool> pool = std::make_shared<SerdataPool>();
};

const MessageSertype & sertypeOf(const ddsi_sertype * type) {
  return *static_cast<const MessageSertype *>(type);
}

MessageSerdata & serdataOf(const ddsi_serdata * data) {
  return *static_cast<MessageSerdata *>(const_cast<ddsi_serdata *>(data));
}

// rmw_cyclonedds rounds the serialised size up to a multiple of 4 with zero bytes.
void padToFour(std::vector<uint8_t> & bytes) { bytes.resize((bytes.size() + 3) / 4 * 4, 0); }

void serdataFree(ddsi_serdata * data);

MessageSerdata * newSerdata(const ddsi_sertype * type, ddsi_serdata_kind kind) {
  return SerdataPool::take(sertypeOf(type).pool, type, kind);
}

bool serdataEqualKey(const ddsi_serdata *, const ddsi_serdata *) { return true; }

uint32_t serdataSize(const ddsi_serdata * data) {
  return static_cast<uint32_t>(serdataOf(data).bytes.size());
}

ddsi_serdata * serdataFromSer(
    const ddsi_sertype * type, ddsi_serdata_kind kind, const nn_rdata * fragment, size_t size) {
  std::unique_ptr<MessageSerdata, void (*)(ddsi_serdata *)> data(
      newSerdata(type, kind), serdataFree);
  data->bytes.resize(size);
  uint32_t offset = 0;
  for (; fragment != nullptr; fragment = fragment->nextfrag) {
    if (fragment->maxp1 > offset) {
      const unsigned char * payload =
          NN_RMSG_PAYLOADOFF(fragment->rmsg, NN_RDATA_PAYLOAD_OFF(fragment));
      std::memcpy(
          data->bytes.data() + offset, payload + offset - fragment->min, fragment->maxp1 - offset);
      offset = fragment->maxp1;
    }
  }
  return data.release();
}

ddsi_serdata * serdataFromSerIov(
    const ddsi_sertype * type, ddsi_serdata_kind kind, ddsrt_msg_iovlen_t count,
    const ddsrt_iovec_t * iov, size_t size) {
  std::unique_ptr<MessageSerdata, void (*)(ddsi_serdata *)> data(
      newSerdata(type, kind), serdataFree);
  data->bytes.reserve(size);
  for (ddsrt_msg_iovlen_t i = 0; i < count; ++i) {
    const auto * base = static_cast<const uint8_t *>(iov[i].iov_base);
    data->bytes.insert(data->bytes.end(), base, base + iov[i].iov_len);
  }
  return data.release();
}

ddsi_serdata * serdataFromKeyhash(const ddsi_sertype * type, const ddsi_keyhash *) {
  return new MessageSerdata(type, SDK_KEY);
}

ddsi_serdata * serdataFromSample(
    const ddsi_sertype * type, ddsi_serdata_kind kind, const void * sample) {
  std::unique_ptr<MessageSerdata, void (*)(ddsi_serdata *)> data(
      newSerdata(type, kind), serdataFree);
  if (kind == SDK_DATA) {
    const MessageSertype & sertype = sertypeOf(type);
    try {
      if (sertype.request_header) {
        const auto & request = *static_cast<const RequestSample *>(sample);
        serializeCdr(*sertype.members, request.message, &request.header, data->bytes);
      } else {
        serializeCdr(*sertype.members, sample, nullptr, data->bytes);
      }
    } catch (const std::exception &) {
      return nullptr;
    }
    padToFour(data->bytes);
  }
  return data.release();
}

void serdataToSer(const ddsi_serdata * data, size_t offset, size_t size, void * buffer) {
  std::memcpy(buffer, serdataOf(data).bytes.data() + offset, size);
}

ddsi_serdata * serdataToSerRef(
    const ddsi_serdata * data, size_t offset, size_t size, ddsrt_iovec_t * reference) {
  reference->iov_base = serdataOf(data).bytes.data() + offset;
  reference->iov_len = static_cast<ddsrt_iov_len_t>(size);
  return ddsi_serdata_ref(data);
}

void serdataToSerUnref(ddsi_serdata * data, const ddsrt_iovec_t *) { ddsi_serdata_unref(data); }

bool serdataToSample(const ddsi_serdata * data, void * sample, void **, void *) {
  if (data->kind != SDK_DATA) {
    return false;
  }
  const MessageSertype & sertype = sertypeOf(data->type);
  const std::vector<uint8_t> & bytes = serdataOf(data).bytes;
  try {
    if (sertype.request_header) {
      auto & request = *static_cast<RequestSample *>(sample);
      deserializeCdr(
          *sertype.members, bytes.data(), bytes.size(), request.message, &request.header);
    } else {
      deserializeCdr(*sertype.members, bytes.data(), bytes.size(), sample, nullptr);
    }
  } catch (const std::exception &) {
    return false;
  }
  return true;
}

ddsi_serdata * serdataToUntyped(const ddsi_serdata * data) {
  auto * untyped = new MessageSerdata(data->type, SDK_KEY);
  untyped->type = nullptr;
  return untyped;
}

bool serdataUntypedToSample(const ddsi_sertype *, const ddsi_serdata *, void *, void **, void *) {
  return true;
}

void serdataFree(ddsi_serdata * data) {
  auto * message = static_cast<MessageSerdata *>(data);
  if (message->pool) {
    SerdataPool::giveBack(message);
  } else {
    delete message;
  }
}

size_t serdataPrint(const ddsi_sertype *, const ddsi_serdata * data, char * buffer, size_t size) {
  return static_cast<size_t>(
      std::snprintf(buffer, size, "(%zu bytes of CDR)", serdataOf(data).bytes.size()));
}

void serdataGetKeyhash(const ddsi_serdata *, ddsi_keyhash * buffer, bool) {
  std::memset(buffer, 0, sizeof(*buffer));
}

const ddsi_serdata_ops kSerdataOps = {
    serdataEqualKey,
    serdataSize,
    serdataFromSer,
    serdataFromSerIov,
    serdataFromKeyhash,
    serdataFromSample,
    serdataToSer,
    serdataToSerRef,
    serdataToSerUnref,
    serdataToSample,
    serdataToUntyped,
    serdataUntypedToSample,
    serdataFree,
    serdataPrint,
    serdataGetKeyhash,
#ifdef DDS_HAS_SHM
    nullptr,
    nullptr,
#endif
};

void sertypeFree(ddsi_sertype * type) {
  ddsi_sertype_fini(type);
  delete static_cast<MessageSertype *>(type);
}

void sertypeZeroSamples(const ddsi_sertype *, void *, size_t) {}

// Only reached when Cyclone has to allocate samples itself; every take here passes its own.
void sertypeReallocSamples(void **, const ddsi_sertype *, void *, size_t, size_t) { std::abort(); }

void sertypeFreeSamples(const ddsi_sertype *, void **, size_t, dds_free_op_t) {}

bool sertypeEqual(const ddsi_sertype * left, const ddsi_sertype * right) {
  return sertypeOf(left).members == sertypeOf(right).members &&
         sertypeOf(left).request_header == sertypeOf(right).request_header;
}

uint32_t sertypeHash(const ddsi_sertype * type) {
  const size_t hash = std::hash<const void *>{}(sertypeOf(type).members);
  return static_cast<uint32_t>(hash ^ (hash >> 32)) ^ (sertypeOf(type).request_header ? 1U : 0U);
}

size_t sertypeSerializedSize(const ddsi_sertype * type, const void * sample) {
  std::unique_ptr<ddsi_serdata, void (*)(ddsi_serdata *)> data(
      serdataFromSample(type, SDK_DATA, sample), serdataFree);
  return data ? serdataOf(data.get()).bytes.size() : SIZE_MAX;
}

bool sertypeSerializeInto(
    const ddsi_sertype * type, const void * sample, void * buffer, size_t size) {
  std::unique_ptr<ddsi_serdata, void (*)(ddsi_serdata *)> data(
      serdataFromSample(type, SDK_DATA, sample), serdataFree);
  if (!data || serdataOf(data.get()).bytes.size() > size) {
    return false;
  }
  std::memcpy(buffer, serdataOf(data.get()).bytes.data(), serdataOf(data.get()).bytes.size());
  return true;
}

const ddsi_sertype_ops kSertypeOps = {
    ddsi_sertype_v0,
    nullptr,
    sertypeFree,
    sertypeZeroSamples,
    sertypeReallocSamples,
    sertypeFreeSamples,
    sertypeEqual,
    sertypeHash,
    nullptr,
    nullptr,
    nullptr,
    nullptr,
    sertypeSerializedSize,
    sertypeSerializeInto,
};

}  // namespace

std::string ddsTypeName(const MessageMembers & type) {
  return std::string(type.message_namespace_) + "::dds_::" + type.message_name_ + "_";
}

ddsi_sertype * createSertype(const MessageMembers & type, bool request_header) {
  auto sertype = std::make_unique<MessageSertype>();
  sertype->members = &type;
  sertype->request_header = request_header;
  ddsi_sertype_init_flags(
      sertype.get(), ddsTypeName(type).c_str(), &kSertypeOps, &kSerdataOps,
      DDSI_SERTYPE_FLAG_TOPICKIND_NO_KEY);
  sertype->allowed_data_representation = DDS_DATA_REPRESENTATION_FLAG_XCDR1;
  return sertype.release();
}

}  // namespace ros2_layer
