// Reading a small file whole, for the configuration file and the start-up script.
// Pure function over the file system; no state.
#pragma once

#include <cstddef>
#include <string>

namespace qn::config {

// Reads the file at `path` (relative to the current directory) as bytes into `text`, at most
// `max_size` bytes. Returns false when it cannot be opened; `text` is then empty. A read error
// part way keeps what was read. Sets `truncated` when the file holds more than `max_size`
// bytes, in which case `text` is left empty.
bool read_file_text(const char* path, size_t max_size, std::string& text, bool& truncated);

}  // namespace qn::config
