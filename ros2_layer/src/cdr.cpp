// Plain CDR as rmw_cyclonedds_cpp encodes it: every primitive aligned to its size (at most 8)
// relative to the first byte after the encapsulation header, strings as a length that counts
// the terminating NUL, sequences as a 32-bit count followed by the elements, fixed arrays as
// their elements only, nested messages inline without alignment of their own.
#include "cdr.hpp"

#include <algorithm>
#include <bit>
#include <cstring>
#include <string>

#include "rosidl_typesupport_introspection_cpp/field_types.hpp"

namespace ros2_layer {
namespace {

static_assert(std::endian::native == std::endian::little, "the encoder writes host byte order");

using rosidl_typesupport_introspection_cpp::MessageMember;
namespace field = rosidl_typesupport_introspection_cpp;

/// Bytes of one primitive on the wire and in memory; 0 for strings and messages.
size_t primitiveSize(uint8_t type_id) {
  switch (type_id) {
    case field::ROS_TYPE_BOOLEAN:
    case field::ROS_TYPE_OCTET:
    case field::ROS_TYPE_UINT8:
    case field::ROS_TYPE_INT8:
    case field::ROS_TYPE_CHAR:
      return 1;
    case field::ROS_TYPE_UINT16:
    case field::ROS_TYPE_INT16:
    case field::ROS_TYPE_WCHAR:
      return 2;
    case field::ROS_TYPE_UINT32:
    case field::ROS_TYPE_INT32:
    case field::ROS_TYPE_FLOAT:
      return 4;
    case field::ROS_TYPE_UINT64:
    case field::ROS_TYPE_INT64:
    case field::ROS_TYPE_DOUBLE:
      return 8;
    case field::ROS_TYPE_LONG_DOUBLE:
      return 16;
    default:
      return 0;
  }
}

size_t alignmentOf(size_t primitive_size) { return std::min<size_t>(primitive_size, 8); }

const MessageMembers & nestedType(const MessageMember & member) {
  return *static_cast<const MessageMembers *>(member.members_->data);
}

bool isSequence(const MessageMember & member) {
  return member.is_array_ && (member.array_size_ == 0 || member.is_upper_bound_);
}

bool isBoolSequence(const MessageMember & member) {
  return isSequence(member) && member.type_id_ == field::ROS_TYPE_BOOLEAN;
}

size_t minimumWireSize(const MessageMembers & type);

/// The fewest bytes that one element of `member` takes on the wire, padding not counted.
size_t minimumElementSize(const MessageMember & member) {
  switch (member.type_id_) {
    case field::ROS_TYPE_MESSAGE:
      return minimumWireSize(nestedType(member));
    case field::ROS_TYPE_STRING:
    case field::ROS_TYPE_WSTRING:
      return 4;  // the length
    default:
      return primitiveSize(member.type_id_);
  }
}

/// The fewest bytes that an instance of `type` takes on the wire, padding not counted.
size_t minimumWireSize(const MessageMembers & type) {
  size_t total = 0;
  for (uint32_t i = 0; i < type.member_count_; ++i) {
    const MessageMember & member = type.members_[i];
    if (isSequence(member)) {
      total += 4;
    } else {
      total += minimumElementSize(member) * (member.is_array_ ? member.array_size_ : 1);
    }
  }
  return total;
}

class CdrWriter {
public:
  explicit CdrWriter(std::vector<uint8_t> & out) : out_(out), origin_(out.size()) {}

  void align(size_t alignment) {
    const size_t offset = out_.size() - origin_;
    const size_t padding = (alignment - offset % alignment) % alignment;
    out_.insert(out_.end(), padding, 0);
  }

  void put(const void * bytes, size_t count) {
    const auto * begin = static_cast<const uint8_t *>(bytes);
    out_.insert(out_.end(), begin, begin + count);
  }

  void putLength(size_t length) {
    const auto value = static_cast<uint32_t>(length);
    align(4);
    put(&value, 4);
  }

  void message(const MessageMembers & type, const void * data) {
    for (uint32_t i = 0; i < type.member_count_; ++i) {
      const MessageMember & member = type.members_[i];
      member_(member, static_cast<const uint8_t *>(data) + member.offset_);
    }
  }

private:
  void member_(const MessageMember & member, const void * field) {
    if (!member.is_array_) {
      value(member, field);
      return;
    }
    if (isBoolSequence(member)) {
      boolSequence(member, field);
      return;
    }
    const size_t count = member.size_function ? member.size_function(field) : member.array_size_;
    if (isSequence(member)) {
      putLength(count);
    }
    if (count == 0) {
      return;
    }
    const size_t size = primitiveSize(member.type_id_);
    if (size != 0) {
      align(alignmentOf(size));
      put(member.get_const_function(field, 0), size * count);
      return;
    }
    for (size_t index = 0; index < count; ++index) {
      value(member, member.get_const_function(field, index));
    }
  }

  void boolSequence(const MessageMember & member, const void * field) {
    const size_t count = member.size_function(field);
    putLength(count);
    for (size_t index = 0; index < count; ++index) {
      bool element = false;
      member.fetch_function(field, index, &element);
      const uint8_t byte = element ? 1 : 0;
      put(&byte, 1);
    }
  }

  void value(const MessageMember & member, const void * field) {
    switch (member.type_id_) {
      case field::ROS_TYPE_MESSAGE:
        message(nestedType(member), field);
        return;
      case field::ROS_TYPE_STRING: {
        const auto & text = *static_cast<const std::string *>(field);
        putLength(text.size() + 1);
        put(text.c_str(), text.size() + 1);
        return;
      }
      case field::ROS_TYPE_WSTRING: {
        // rmw_cyclonedds writes wide strings as a character count and one wchar_t per character.
        const auto & text = *static_cast<const std::u16string *>(field);
        putLength(text.size());
        for (char16_t character : text) {
          const auto wide = static_cast<wchar_t>(character);
          put(&wide, sizeof(wide));
        }
        return;
      }
      default: {
        const size_t size = primitiveSize(member.type_id_);
        align(alignmentOf(size));
        put(field, size);
      }
    }
  }

  std::vector<uint8_t> & out_;
  const size_t origin_;
};

class CdrReader {
public:
  CdrReader(const uint8_t * data, size_t size, bool swap) : data_(data), size_(size), swap_(swap) {}

  void align(size_t alignment) {
    const size_t padding = (alignment - position_ % alignment) % alignment;
    require(padding);
    position_ += padding;
  }

  void get(void * destination, size_t element_size, size_t count) {
    if (count != 0 && element_size > (size_ - position_) / count) {
      throw CdrError("serialized data is shorter than its type requires");
    }
    std::memcpy(destination, data_ + position_, element_size * count);
    if (swap_ && element_size > 1 && element_size <= 8) {
      auto * bytes = static_cast<uint8_t *>(destination);
      for (size_t index = 0; index < count; ++index) {
        std::reverse(bytes + index * element_size, bytes + (index + 1) * element_size);
      }
    }
    position_ += element_size * count;
  }

  uint32_t getLength(size_t minimum_element_size) {
    uint32_t length = 0;
    align(4);
    get(&length, 4, 1);
    if (minimum_element_size != 0 && length > (size_ - position_) / minimum_element_size) {
      throw CdrError("serialized length exceeds the data");
    }
    return length;
  }

  void message(const MessageMembers & type, void * data) {
    for (uint32_t i = 0; i < type.member_count_; ++i) {
      const MessageMember & member = type.members_[i];
      member_(member, static_cast<uint8_t *>(data) + member.offset_);
    }
  }

private:
  void require(size_t count) const {
    if (count > size_ - position_) {
      throw CdrError("serialized data is shorter than its type requires");
    }
  }

  void member_(const MessageMember & member, void * field) {
    if (!member.is_array_) {
      value(member, field);
      return;
    }
    const size_t size = primitiveSize(member.type_id_);
    size_t count = member.array_size_;
    if (isSequence(member)) {
      // A count is believed only as far as the remaining bytes can hold that many elements:
      // elements are allocated before they are read, and a message element can take far more
      // memory than its bytes on the wire.
      count = getLength(std::max<size_t>(minimumElementSize(member), 1));
      if (member.is_upper_bound_ && count > member.array_size_) {
        throw CdrError("sequence exceeds its bound");
      }
      member.resize_function(field, count);
    }
    if (isBoolSequence(member)) {
      for (size_t index = 0; index < count; ++index) {
        uint8_t byte = 0;
        get(&byte, 1, 1);
        const bool element = byte != 0;
        member.assign_function(field, index, &element);
      }
      return;
    }
    if (count == 0) {
      return;
    }
    if (size != 0) {
      align(alignmentOf(size));
      get(member.get_function(field, 0), size, count);
      return;
    }
    for (size_t index = 0; index < count; ++index) {
      value(member, member.get_function(field, index));
    }
  }

  void value(const MessageMember & member, void * field) {
    switch (member.type_id_) {
      case field::ROS_TYPE_MESSAGE:
        message(nestedType(member), field);
        return;
      case field::ROS_TYPE_STRING:
        string(*static_cast<std::string *>(field));
        return;
      case field::ROS_TYPE_WSTRING: {
        const uint32_t length = getLength(sizeof(wchar_t));
        auto & text = *static_cast<std::u16string *>(field);
        text.resize(length);
        for (char16_t & character : text) {
          wchar_t wide = 0;
          get(&wide, sizeof(wide), 1);
          character = static_cast<char16_t>(wide);
        }
        return;
      }
      case field::ROS_TYPE_BOOLEAN: {
        uint8_t byte = 0;
        get(&byte, 1, 1);
        *static_cast<bool *>(field) = byte != 0;
        return;
      }
      default: {
        const size_t size = primitiveSize(member.type_id_);
        align(alignmentOf(size));
        get(field, size, 1);
      }
    }
  }

  void string(std::string & text) {
    const uint32_t length = getLength(1);
    if (length == 0) {
      text.clear();
      return;
    }
    if (data_[position_ + length - 1] != '\0') {
      throw CdrError("serialized string is not NUL-terminated");
    }
    text.assign(reinterpret_cast<const char *>(data_ + position_), length - 1);
    position_ += length;
  }

  const uint8_t * data_;
  const size_t size_;
  const bool swap_;
  size_t position_ = 0;
};

}  // namespace

void serializeCdr(
    const MessageMembers & type, const void * message, const RequestHeader * header,
    std::vector<uint8_t> & out) {
  // Representation identifier CDR_LE, then two bytes of options.
  const uint8_t encapsulation[kEncapsulationHeaderSize] = {0x00, 0x01, 0x00, 0x00};
  out.insert(out.end(), encapsulation, encapsulation + kEncapsulationHeaderSize);
  CdrWriter writer(out);
  if (header != nullptr) {
    writer.put(&header->client_id, sizeof(header->client_id));
    writer.put(&header->sequence_number, sizeof(header->sequence_number));
  }
  writer.message(type, message);
}

void deserializeCdr(
    const MessageMembers & type, const uint8_t * data, size_t size, void * message,
    RequestHeader * header) {
  if (size < kEncapsulationHeaderSize) {
    throw CdrError("serialized data lacks its encapsulation header");
  }
  const bool big_endian = data[1] == 0x00;
  CdrReader reader(data + kEncapsulationHeaderSize, size - kEncapsulationHeaderSize, big_endian);
  if (header != nullptr) {
    reader.get(&header->client_id, sizeof(header->client_id), 1);
    reader.get(&header->sequence_number, sizeof(header->sequence_number), 1);
  }
  reader.message(type, message);
}

}  // namespace ros2_layer
