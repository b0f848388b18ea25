#include "client/frame.h"

#include <cstring>

#include "values/little_endian.h"

namespace qn::client {

namespace {

constexpr size_t length_field_size = wire::length_bytes;
// The smallest item: u16 label length, descriptor, u64 value count.
constexpr uint64_t min_item_size =
    wire::label_length_bytes + wire::descriptor_bytes + wire::value_count_bytes;

// Reads fixed-size fields from the front of a byte view; every read is checked.
class field_reader {
 public:
  explicit field_reader(std::string_view bytes) : rest_(bytes) {}

  size_t remaining() const { return rest_.size(); }

  template <class T>
  [[nodiscard]] bool read(T& out) {
    if (rest_.size() < sizeof(T)) return false;
    std::memcpy(&out, rest_.data(), sizeof(T));
    rest_.remove_prefix(sizeof(T));
    return true;
  }
  [[nodiscard]] bool read_bytes(size_t n, std::string& out) {
    if (rest_.size() < n) return false;
    out.assign(rest_.data(), n);
    rest_.remove_prefix(n);
    return true;
  }

 private:
  std::string_view rest_;
};

// Wire size of one value of a descriptor; strings report their smallest size (the length field).
uint64_t min_value_size(type_descriptor d) {
  switch (d.category) {
    case integer_category:
      return d.width == 0 ? 1 : d.width == 1 ? 2 : d.width == 2 ? 4 : 8;
    case floating_category:
      return d.width == 2 ? 4 : 8;
    case string_category:
      return 2;
    case date_category:
      return sizeof(date);
    case time_category:
      return sizeof(time);
    case datetime_category:
      return sizeof(date_time);
  }
  return 0;
}

template <class T>
bool read_as(field_reader& in, value& out) {
  T v{};
  if (!in.read(v)) return false;
  out = v;
  return true;
}

// One value encoded by `d`: integers by sign byte and width (any width above 2 is 8 bytes),
// floating point by width (2 float, else double).
bool read_value(field_reader& in, type_descriptor d, value& out) {
  switch (d.category) {
    case integer_category:
      if (d.sign == 0) {
        switch (d.width) {
          case 0:
            return read_as<int8_t>(in, out);
          case 1:
            return read_as<int16_t>(in, out);
          case 2:
            return read_as<int32_t>(in, out);
          default:
            return read_as<int64_t>(in, out);
        }
      }
      switch (d.width) {
        case 0:
          return read_as<uint8_t>(in, out);
        case 1:
          return read_as<uint16_t>(in, out);
        case 2:
          return read_as<uint32_t>(in, out);
        default:
          return read_as<uint64_t>(in, out);
      }
    case floating_category:
      return d.width == 2 ? read_as<float>(in, out) : read_as<double>(in, out);
    case string_category: {
      uint16_t n = 0;
      std::string bytes;
      if (!in.read(n) || !in.read_bytes(n, bytes)) return false;
      out = std::move(bytes);
      return true;
    }
    case date_category:
      return read_as<date>(in, out);
    case time_category:
      return read_as<time>(in, out);
    case datetime_category:
      return read_as<date_time>(in, out);
  }
  return false;
}

bool read_item(field_reader& in, reply_item& item) {
  uint16_t label_length = 0;
  if (!in.read(label_length) || !in.read_bytes(label_length, item.label)) return false;
  if (!in.read(item.type.width) || !in.read(item.type.sign) || !in.read(item.type.category)) {
    return false;
  }
  if (!in.read(item.value_count)) return false;
  const uint64_t size = min_value_size(item.type);
  if (size == 0) return true;  // an item without type: its values take no bytes
  if (item.value_count > in.remaining() / size) return false;
  item.values.resize(item.value_count);
  for (value& v : item.values) {
    if (!read_value(in, item.type, v)) return false;
  }
  return true;
}

// Splits a whole frame into its body (the bytes after the length field). Returns `complete` only
// when `bytes` holds exactly the announced frame.
decode_status frame_body(std::string_view bytes, std::string_view& body) {
  uint64_t size = 0;
  if (!peek_frame_size(bytes, size) || bytes.size() < size) return decode_status::incomplete;
  if (bytes.size() > size) return decode_status::malformed;
  body = bytes.substr(length_field_size);
  return decode_status::complete;
}

}  // namespace

bool append_request_frame(std::string_view payload, std::string& out) {
  if (payload.size() > max_request_payload) return false;
  out.reserve(out.size() + length_field_size + payload.size());
  append_le(out, static_cast<uint32_t>(payload.size()));
  out.append(payload);
  return true;
}

bool append_login_frame(std::string_view user, std::string_view password, std::string& out) {
  const uint64_t payload_size = wire::login_field_length_bytes + uint64_t{user.size()} +
                                wire::login_field_length_bytes + password.size();
  if (payload_size > max_request_payload) return false;
  out.reserve(out.size() + length_field_size + payload_size);
  append_le(out, static_cast<uint32_t>(payload_size));
  append_le(out, static_cast<uint32_t>(user.size()));
  out.append(user);
  append_le(out, static_cast<uint32_t>(password.size()));
  out.append(password);
  return true;
}

bool peek_frame_size(std::string_view bytes, uint64_t& size) {
  if (bytes.size() < length_field_size) return false;
  size = length_field_size + uint64_t{load_le<uint32_t>(bytes.data())};
  return true;
}

decode_status decode_login_reply(std::string_view bytes, bool& is_accepted) {
  std::string_view body;
  const decode_status status = frame_body(bytes, body);
  if (status != decode_status::complete) return status;
  if (body.size() != 1 || (body[0] != wire::status_success && body[0] != wire::status_failure)) {
    return decode_status::malformed;
  }
  is_accepted = body[0] == wire::status_success;
  return decode_status::complete;
}

decode_status decode_command_reply(std::string_view bytes, command_reply& out) {
  std::string_view body;
  const decode_status status = frame_body(bytes, body);
  if (status != decode_status::complete) return status;
  field_reader in(body);
  uint8_t status_byte = 0;
  if (!in.read(status_byte)) return decode_status::malformed;
  out.items.clear();
  if (status_byte == wire::status_failure) {
    out.is_success = false;
    return in.remaining() == 0 ? decode_status::complete : decode_status::malformed;
  }
  if (status_byte != wire::status_success) return decode_status::malformed;
  out.is_success = true;
  uint64_t count = 0;
  if (!in.read(count) || count > in.remaining() / min_item_size) return decode_status::malformed;
  out.items.resize(count);
  for (reply_item& item : out.items) {
    if (!read_item(in, item)) return decode_status::malformed;
  }
  return in.remaining() == 0 ? decode_status::complete : decode_status::malformed;
}

}  // namespace qn::client
