#include "values/type_descriptor.h"

namespace qn {

std::string_view type_name(type_descriptor d) {
  switch (d.category) {
    case integer_category: {
      static constexpr std::string_view signed_names[4] = {"i08", "i16", "i32", "i64"};
      static constexpr std::string_view unsigned_names[4] = {"u08", "u16", "u32", "u64"};
      if (d.width > 3) return {};
      return d.sign == 0 ? signed_names[d.width] : unsigned_names[d.width];
    }
    case floating_category: return d.width == 2 ? "float" : "double";
    case string_category: return "string";
    case date_category: return "date";
    case time_category: return "time";
    case datetime_category: return "datetime";
  }
  return {};
}

bool recognise_type_word(std::string_view w, type_descriptor& out) {
  if (w.size() < 3) return false;
  switch (w[0]) {
    case 'i':
    case 'u': {
      const uint8_t sign = w[0] == 'u' ? 1 : 0;
      switch (w[2]) {
        case '8': out = {0, sign, integer_category}; return true;
        case '6': out = {1, sign, integer_category}; return true;
        case '2': out = {2, sign, integer_category}; return true;
        case '4': out = {3, sign, integer_category}; return true;
      }
      return false;
    }
    case 'f': out = float_type; return true;
    case 't': out = time_type; return true;
    case 's': out = string_type; return true;
    case 'd':
      if (w[1] == 'o') {
        out = double_type;
        return true;
      }
      if (w.size() == 4) {
        out = date_type;
        return true;
      }
      if (w.size() == 8) {
        out = datetime_type;
        return true;
      }
      return false;
  }
  return false;
}

}  // namespace qn
