#include "config/toml_reader.h"

#include <functional>

#include "config/toml_builder.h"
#include "config/toml_grammar.h"

namespace qn::config {

std::unique_ptr<toml_reader> toml_reader::create() {
  std::unique_ptr<toml_reader> reader(new toml_reader());
  compile_error error;
  reader->grammar_ = compile_grammar(toml_grammar_text, error);
  if (reader->grammar_ == nullptr || error.code != compile_error_code::none ||
      reader->grammar_->rule_count() != static_cast<size_t>(toml_rule::count)) {
    return nullptr;
  }
  reader->table_ = std::make_unique<resolution_table>();
  if (!resolve_names(*reader->grammar_, toml_recognisers(), *reader->table_)) return nullptr;
  return reader;
}

parse_ptr toml_reader::parse(std::string_view text) const {
  reset_furthest_failure();
  return match(grammar_->rule(0), text.data(), text.size(), *table_);
}

size_t toml_reader::failure_offset(std::string_view text) {
  const char* p = furthest_failure();
  // A parse that failed without trying a single byte (empty text) failed at its start.
  if (p == nullptr || std::less<const char*>()(p, text.data())) return 0;
  const auto offset = static_cast<size_t>(p - text.data());
  return offset < text.size() ? offset : text.size();
}

std::unique_ptr<table> toml_reader::build_document(const parse_node& tree) const {
  return build_toml_document(tree);
}

}  // namespace qn::config
