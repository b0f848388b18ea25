// Document builder: turns the parse tree of the TOML grammar into nested tables.
// Stateless between calls; the caller owns the parse tree and receives the document.
//
// The builder walks the top node's children in order: key/value pairs go into the root table,
// a [header] section's pairs into the table its key names (missing tables on the way are
// created), a [[header]] section's pairs into a new table appended to the array of tables its
// key names. Values are converted from the text spans of their nodes, so the builder never
// depends on how the grammar engine grouped the pieces below a value.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "config/grammar_match.h"
#include "config/toml_document.h"

namespace qn::config {

// Tables and arrays nest at most this deep below the root. Deeper documents fail with
// "nesting deeper than ..." so that every consumer may walk a document recursively.
inline constexpr int max_document_depth = 512;

// Builds the document from `tree`, the result of parsing with the TOML grammar (rule `block`).
// Returns the root table, or null after printing a message (a duplicate key at the top level
// or inside an inline table fails without one). Nothing is kept on failure.
[[nodiscard]] std::unique_ptr<table> build_toml_document(const parse_node& tree);

// Value conversions, exposed for their tests. `text` is the span of the value's node.
// Returns false when the text is not of the expected form; `out` is then unspecified.
bool convert_string_text(std::string_view text, std::string& out);
bool convert_integer_text(std::string_view text, int64_t& out);
bool convert_float_text(std::string_view text, double& out);
bool convert_local_date_text(std::string_view text, toml_date& out);
bool convert_local_time_text(std::string_view text, toml_time& out);

}  // namespace qn::config
