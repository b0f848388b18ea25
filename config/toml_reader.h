// TOML reader: the grammar engine compiled with the TOML grammar and its recognisers, and the
// entry points parse and build document. A reader owns its compiled grammar; parse trees point
// into the caller's text. Single-threaded, as the grammar engine.
#pragma once

#include <memory>
#include <string_view>

#include "config/grammar.h"
#include "config/grammar_match.h"
#include "config/toml_document.h"

namespace qn::config {

class toml_reader {
 public:
  // Compiles the grammar text, registers the eleven recognisers and resolves rule names.
  // Returns null only if the built-in grammar text were broken.
  [[nodiscard]] static std::unique_ptr<toml_reader> create();

  // Clears the furthest-failure position and matches the start rule at the first byte of
  // `text`. Returns the parse tree (its top node is the `block` rule's), or null when not even
  // the first item matched; then failure_offset tells where the parse failed. A syntax error
  // after at least one item ends the match there: the tree covers the text before it.
  // Requires: `text` outlives the returned tree.
  [[nodiscard]] parse_ptr parse(std::string_view text) const;

  // Byte offset into `text` of the furthest-failure position after a failed parse of it.
  static size_t failure_offset(std::string_view text);

  // Builds the document from a tree returned by parse; null after printing a message.
  [[nodiscard]] std::unique_ptr<table> build_document(const parse_node& tree) const;

 private:
  toml_reader() = default;

  std::unique_ptr<grammar> grammar_;
  std::unique_ptr<resolution_table> table_;
};

}  // namespace qn::config
