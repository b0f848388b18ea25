#include "config/line_split.h"

namespace qn::config {

std::vector<std::string_view> split_lines(std::string_view text, std::string_view separator,
                                          bool skip_empty) {
  std::vector<std::string_view> pieces;
  if (separator.empty()) {
    if (!text.empty()) pieces.push_back(text);
    return pieces;
  }
  size_t begin = 0;
  for (size_t at = text.find(separator); at != std::string_view::npos;
       at = text.find(separator, begin)) {
    if (at > begin || !skip_empty) pieces.push_back(text.substr(begin, at - begin));
    begin = at + separator.size();
  }
  if (begin < text.size()) pieces.push_back(text.substr(begin));
  return pieces;
}

}  // namespace qn::config
