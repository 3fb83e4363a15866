// The project's one TOML reader, for the files beside the driver: the simulation file, h1eth.conf,
// the bridge file. It parses a text into a document of tables, arrays and values, each placed at
// its line and column, and reads typed keys with the checks those files share. Every text that is
// not TOML, whatever the parser makes of it, ends as one ParseProblem; nothing throws out of here
// and nothing aborts.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tav::toml_file {

// Where something lies in the text, counted from 1; line 0 when nowhere in particular.
struct Position {
  int line = 0;
  int column = 0;
};

class Table;
class Array;

// One value of a document, or none (what Table::Get gives for an absent key). Lives as long as
// its Document. The typed reads give nothing for a value of another kind: Integer() takes no
// float, Number() takes an integer or a float.
class Node {
 public:
  Node() = default;
  explicit operator bool() const { return node_ != nullptr; }

  Position position() const;
  int line() const { return position().line; }
  Table AsTable() const;  // none when this is no table
  Array AsArray() const;  // none when this is no array
  std::optional<int64_t> Integer() const;
  std::optional<std::string> String() const;
  std::optional<bool> Boolean() const;
  std::optional<double> Number() const;

 protected:
  explicit Node(const void* node) : node_(node) {}
  const void* node_ = nullptr;
  friend class Table;
  friend class Array;
  friend class Document;
};

class Table : public Node {
 public:
  struct Entry {
    std::string_view key;
    Node value;
  };
  Table() = default;
  Node Get(std::string_view key) const;
  std::vector<Entry> Entries() const;  // in the order of their keys

 private:
  explicit Table(const void* node) : Node(node) {}
  friend class Node;
  friend class Document;
};

class Array : public Node {
 public:
  Array() = default;
  std::vector<Node> Items() const;
  bool IsArrayOfTables() const;  // not empty, and every item a table

 private:
  explicit Array(const void* node) : Node(node) {}
  friend class Node;
};

// Why a text gave no document.
struct ParseProblem {
  enum class Kind {
    kNotText,      // a byte outside ASCII text at `at`: `byte`
    kSyntax,       // not TOML at `at`: `description` says why, in the parser's words
    kParserCheck,  // not TOML, found by one of the parser's own checks (`description`); no place
  };
  Kind kind = Kind::kSyntax;
  Position at;
  unsigned char byte = 0;
  std::string description;
};

struct Parsed;

class Document {
 public:
  Document(Document&&) noexcept;
  Document& operator=(Document&&) noexcept;
  ~Document();
  Table root() const;

 private:
  struct Tree;
  explicit Document(std::unique_ptr<Tree> tree);
  std::unique_ptr<Tree> tree_;
  friend Parsed Parse(std::string_view text);
};

struct Parsed {
  std::optional<Document> document;
  ParseProblem problem;  // when there is no document
};

// Parses `text`. The files are ASCII text (tabs, line ends, printable characters), a UTF-8
// byte-order mark at the start let through: the parser's character tables are undefined for part
// of Unicode, so any other byte is refused before parsing (a string takes every character as a
// \u escape).
Parsed Parse(std::string_view text);

// A problem with a document's contents: where, and what in the words of the file's reader.
struct Problem {
  Position at;
  std::string what;
};

// Reads typed keys of tables and records every problem it finds, in the order found. Each read
// gives kAbsent (the key is not there; `out` keeps its value), kTaken (`out` holds the value) or
// kRefused (a problem recorded at the value: "KEY must be an integer from LOW to HIGH", "KEY must
// be a string", "KEY must be true or false"; `out` keeps its value).
class KeyReader {
 public:
  enum class Outcome { kAbsent, kTaken, kRefused };

  Outcome Integer(const Table& table, std::string_view key, int64_t low, int64_t high,
                  int64_t& out);
  Outcome Text(const Table& table, std::string_view key, std::string& out);
  Outcome Boolean(const Table& table, std::string_view key, bool& out);

  // Every key of `table` is one of `known`: each other key is recorded at its value,
  // "unknown key 'KEY'" and `where` after it. Returns whether there was none.
  bool Keys(const Table& table, std::initializer_list<std::string_view> known,
            std::string_view where = "");

  // Records a problem at `node`; returns false, for the caller to pass on.
  bool Refuse(const Node& node, std::string what);
  bool Refuse(int line, std::string what);

  std::vector<Problem> problems;
};

}  // namespace tav::toml_file
