// Splitting a text into lines: the pieces between occurrences of a separator.
// Pure function; the pieces point into the caller's text.
#pragma once

#include <string_view>
#include <vector>

namespace qn::config {

// Splits `text` at every occurrence of `separator`. With `skip_empty` set, empty pieces are
// dropped. The piece after the last separator is returned only when it is not empty, so a
// trailing separator adds nothing. An empty separator yields the whole text as one piece.
// The pieces are views into `text`, valid as long as it is.
std::vector<std::string_view> split_lines(std::string_view text, std::string_view separator,
                                          bool skip_empty);

}  // namespace qn::config
