#include "toml_file/document.h"

#include <algorithm>
#include <stdexcept>
#include <utility>

namespace tav::toml_file {
namespace {

// A consistency check of the TOML parser that failed (see below).
struct BrokenParserCheck : std::logic_error {
  using std::logic_error::logic_error;
};

[[noreturn]] void FailParserCheck(const char* check) {
  throw BrokenParserCheck(check);
}

}  // namespace
}  // namespace tav::toml_file

// toml++ states its parser's assumptions with TOML_ASSERT, and some texts that are not TOML break
// them (in 3.3, "[#" and "a=[}" among others): with the checks on, the parser aborts the process;
// with NDEBUG they turn into assumptions the compiler relies on, and parsing runs on into
// undefined behaviour. Here the checks stay on in every build and throw, so that a text that
// breaks one ends the parse with a problem like any other. The parser reports its own errors by
// throwing too. This is the one file of the project that includes toml++: its inline functions
// are compiled with these settings alone, so no binary can end up with a copy compiled otherwise.
#undef NDEBUG
#define TOML_ASSERT(expr) ((expr) ? static_cast<void>(0) : ::tav::toml_file::FailParserCheck(#expr))
#define TOML_HEADER_ONLY 1
#define TOML_EXCEPTIONS 1
#include <toml++/toml.h>

namespace tav::toml_file {

struct Document::Tree {
  toml::table root;
};

namespace {

// A Node holds its toml::node as `const void*`, always converted from `const toml::node*`.
const toml::node& Of(const void* node) {
  return *static_cast<const toml::node*>(node);
}

const void* Held(const toml::node* node) {
  return node;
}

Position PositionOf(const toml::source_position& at) {
  return {static_cast<int>(at.line), static_cast<int>(at.column)};
}

constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";

bool IsTextByte(unsigned char c) {
  return c == '\t' || c == '\n' || c == '\r' || (c >= 0x20 && c < 0x7F);
}

// The first byte outside ASCII text, with its place; nothing when there is none.
std::optional<ParseProblem> CheckText(std::string_view text) {
  Position at{1, 1};
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (!IsTextByte(byte)) return ParseProblem{ParseProblem::Kind::kNotText, at, byte, {}};
    if (byte == '\n') {
      ++at.line;
      at.column = 1;
    } else {
      ++at.column;
    }
  }
  return std::nullopt;
}

}  // namespace

Position Node::position() const {
  return node_ == nullptr ? Position{} : PositionOf(Of(node_).source().begin);
}

Table Node::AsTable() const {
  return Table(node_ == nullptr ? nullptr : Held(Of(node_).as_table()));
}

Array Node::AsArray() const {
  return Array(node_ == nullptr ? nullptr : Held(Of(node_).as_array()));
}

std::optional<int64_t> Node::Integer() const {
  if (node_ == nullptr) return std::nullopt;
  return Of(node_).value_exact<int64_t>();
}

std::optional<std::string> Node::String() const {
  if (node_ == nullptr) return std::nullopt;
  return Of(node_).value_exact<std::string>();
}

std::optional<bool> Node::Boolean() const {
  if (node_ == nullptr) return std::nullopt;
  return Of(node_).value_exact<bool>();
}

std::optional<double> Node::Number() const {
  if (node_ == nullptr || !Of(node_).is_number()) return std::nullopt;
  return Of(node_).value<double>();
}

Node Table::Get(std::string_view key) const {
  if (node_ == nullptr) return Node();
  return Node(Held(Of(node_).as_table()->get(key)));
}

std::vector<Table::Entry> Table::Entries() const {
  std::vector<Entry> entries;
  if (node_ == nullptr) return entries;
  for (const auto& [key, value] : *Of(node_).as_table()) {
    entries.push_back({key.str(), Node(Held(&value))});
  }
  return entries;
}

std::vector<Node> Array::Items() const {
  std::vector<Node> items;
  if (node_ == nullptr) return items;
  for (const toml::node& item : *Of(node_).as_array()) items.push_back(Node(Held(&item)));
  return items;
}

bool Array::IsArrayOfTables() const {
  return node_ != nullptr && Of(node_).as_array()->is_array_of_tables();
}

Document::Document(std::unique_ptr<Tree> tree) : tree_(std::move(tree)) {}
Document::Document(Document&&) noexcept = default;
Document& Document::operator=(Document&&) noexcept = default;
Document::~Document() = default;

Table Document::root() const {
  return Table(Held(&tree_->root));
}

Parsed Parse(std::string_view text) {
  if (text.starts_with(kByteOrderMark)) text.remove_prefix(kByteOrderMark.size());
  if (std::optional<ParseProblem> notText = CheckText(text)) return {std::nullopt, *notText};
  auto tree = std::make_unique<Document::Tree>();
  try {
    tree->root = toml::parse(text);
  } catch (const toml::parse_error& error) {
    return {std::nullopt,
            {ParseProblem::Kind::kSyntax, PositionOf(error.source().begin), 0,
             std::string(error.description())}};
  } catch (const BrokenParserCheck& check) {
    return {std::nullopt, {ParseProblem::Kind::kParserCheck, {}, 0, check.what()}};
  }
  return {Document(std::move(tree)), {}};
}

KeyReader::Outcome KeyReader::Integer(const Table& table, std::string_view key, int64_t low,
                                      int64_t high, int64_t& out) {
  const Node node = table.Get(key);
  if (!node) return Outcome::kAbsent;
  const std::optional<int64_t> value = node.Integer();
  if (!value || *value < low || *value > high) {
    Refuse(node, std::string(key) + " must be an integer from " + std::to_string(low) + " to " +
                     std::to_string(high));
    return Outcome::kRefused;
  }
  out = *value;
  return Outcome::kTaken;
}

KeyReader::Outcome KeyReader::Text(const Table& table, std::string_view key, std::string& out) {
  const Node node = table.Get(key);
  if (!node) return Outcome::kAbsent;
  std::optional<std::string> value = node.String();
  if (!value) {
    Refuse(node, std::string(key) + " must be a string");
    return Outcome::kRefused;
  }
  out = std::move(*value);
  return Outcome::kTaken;
}

KeyReader::Outcome KeyReader::Boolean(const Table& table, std::string_view key, bool& out) {
  const Node node = table.Get(key);
  if (!node) return Outcome::kAbsent;
  const std::optional<bool> value = node.Boolean();
  if (!value) {
    Refuse(node, std::string(key) + " must be true or false");
    return Outcome::kRefused;
  }
  out = *value;
  return Outcome::kTaken;
}

bool KeyReader::Keys(const Table& table, std::initializer_list<std::string_view> known,
                     std::string_view where) {
  bool allKnown = true;
  for (const Table::Entry& entry : table.Entries()) {
    if (std::find(known.begin(), known.end(), entry.key) != known.end()) continue;
    std::string what = "unknown key '" + std::string(entry.key) + "'";
    if (!where.empty()) what.append(" in ").append(where);
    allKnown = Refuse(entry.value, std::move(what));
  }
  return allKnown;
}

bool KeyReader::Refuse(const Node& node, std::string what) {
  problems.push_back({node.position(), std::move(what)});
  return false;
}

bool KeyReader::Refuse(int line, std::string what) {
  problems.push_back({{line, 0}, std::move(what)});
  return false;
}

}  // namespace tav::toml_file
