#include "db/filter_expression.h"

#include <cctype>
#include <cstdlib>
#include <utility>
#include <vector>

#include "framework/data/db_error.h"
#include "framework/rtl/platform.h"

namespace tersify {

struct TFilterExpression::Node {
  enum class Kind { And, Or, Not, Compare, IsNull, IsNotNull };
  Kind kind = Kind::Compare;
  std::unique_ptr<Node> left, right;  // And, Or: both; Not: left
  std::string field;                  // Compare, IsNull, IsNotNull
  std::string op;                     // Compare
  Variant literal;                    // Compare: text, number or null
};

namespace {

using Node = TFilterExpression::Node;

[[noreturn]] void Incorrect(const std::string& reason) {
  throw EDatabaseError("Filter expression incorrect: " + reason);
}

struct Token {
  enum class Kind { Name, Text, Number, Operator, Open, Close, End };
  Kind kind = Kind::End;
  std::string text;
};

bool IsNameChar(char c) {
  return std::isalnum(static_cast<unsigned char>(c)) || c == '_' || c == '$' || c == '#' || c == '@' || c == '.';
}

std::vector<Token> Tokens(const std::string& text) {
  std::vector<Token> tokens;
  size_t i = 0;
  while (i < text.size()) {
    const char c = text[i];
    if (std::isspace(static_cast<unsigned char>(c))) {
      ++i;
    } else if (c == '(' || c == ')') {
      tokens.push_back({c == '(' ? Token::Kind::Open : Token::Kind::Close, std::string(1, c)});
      ++i;
    } else if (c == '\'') {
      std::string value;
      for (++i;; ++i) {
        if (i >= text.size()) Incorrect("a text is not closed");
        if (text[i] == '\'') {
          if (i + 1 < text.size() && text[i + 1] == '\'') {
            value += '\'';
            ++i;
            continue;
          }
          ++i;
          break;
        }
        value += text[i];
      }
      tokens.push_back({Token::Kind::Text, value});
    } else if (c == '[') {
      const size_t close = text.find(']', i);
      if (close == std::string::npos) Incorrect("a bracketed name is not closed");
      tokens.push_back({Token::Kind::Name, text.substr(i + 1, close - i - 1)});
      i = close + 1;
    } else if (c == '=' || c == '<' || c == '>') {
      std::string op(1, c);
      if (c != '=' && i + 1 < text.size() && (text[i + 1] == '=' || (c == '<' && text[i + 1] == '>')))
        op += text[i + 1];
      tokens.push_back({Token::Kind::Operator, op});
      i += op.size();
    } else if (std::isdigit(static_cast<unsigned char>(c)) || ((c == '-' || c == '+') && i + 1 < text.size() &&
                                                                 std::isdigit(static_cast<unsigned char>(text[i + 1])))) {
      size_t end = i + 1;
      while (end < text.size() && (std::isdigit(static_cast<unsigned char>(text[end])) || text[end] == '.')) ++end;
      tokens.push_back({Token::Kind::Number, text.substr(i, end - i)});
      i = end;
    } else if (IsNameChar(c)) {
      size_t end = i;
      while (end < text.size() && IsNameChar(text[end])) ++end;
      tokens.push_back({Token::Kind::Name, text.substr(i, end - i)});
      i = end;
    } else {
      Incorrect(std::string("unexpected character '") + c + "'");
    }
  }
  tokens.push_back({Token::Kind::End, {}});
  return tokens;
}

class Parser {
 public:
  explicit Parser(std::vector<Token> tokens) : tokens_(std::move(tokens)) {}

  std::unique_ptr<Node> Expression() {
    std::unique_ptr<Node> node = Conjunction();
    while (IsKeyword("or")) {
      ++at_;
      node = Joined(Node::Kind::Or, std::move(node), Conjunction());
    }
    return node;
  }
  bool AtEnd() const { return Peek().kind == Token::Kind::End; }

 private:
  const Token& Peek() const { return tokens_[at_]; }
  bool IsKeyword(const char* word) const {
    return Peek().kind == Token::Kind::Name && SameText(Peek().text, word);
  }
  static std::unique_ptr<Node> Joined(Node::Kind kind, std::unique_ptr<Node> left, std::unique_ptr<Node> right) {
    auto node = std::make_unique<Node>();
    node->kind = kind;
    node->left = std::move(left);
    node->right = std::move(right);
    return node;
  }

  std::unique_ptr<Node> Conjunction() {
    std::unique_ptr<Node> node = Negation();
    while (IsKeyword("and")) {
      ++at_;
      node = Joined(Node::Kind::And, std::move(node), Negation());
    }
    return node;
  }

  std::unique_ptr<Node> Negation() {
    if (IsKeyword("not")) {
      ++at_;
      return Joined(Node::Kind::Not, Negation(), nullptr);
    }
    if (Peek().kind == Token::Kind::Open) {
      ++at_;
      std::unique_ptr<Node> node = Expression();
      if (Peek().kind != Token::Kind::Close) Incorrect("a parenthesis is not closed");
      ++at_;
      return node;
    }
    return Comparison();
  }

  std::unique_ptr<Node> Comparison() {
    if (Peek().kind != Token::Kind::Name || IsKeyword("null")) Incorrect("a field name is expected");
    auto node = std::make_unique<Node>();
    node->field = tokens_[at_++].text;
    if (IsKeyword("is")) {
      ++at_;
      node->kind = Node::Kind::IsNull;
      if (IsKeyword("not")) {
        ++at_;
        node->kind = Node::Kind::IsNotNull;
      }
      if (!IsKeyword("null")) Incorrect("NULL is expected after IS");
      ++at_;
      return node;
    }
    if (Peek().kind != Token::Kind::Operator) Incorrect("a comparison is expected after " + node->field);
    node->op = tokens_[at_++].text;
    const Token& value = Peek();
    if (value.kind == Token::Kind::Text) {
      node->literal = Variant(value.text);
    } else if (value.kind == Token::Kind::Number) {
      node->literal = Variant(std::strtod(value.text.c_str(), nullptr));
    } else if (IsKeyword("null")) {
      node->literal = Variant();
    } else {
      Incorrect("a value is expected after " + node->field + " " + node->op);
    }
    ++at_;
    return node;
  }

  std::vector<Token> tokens_;
  size_t at_ = 0;
};

// The outcome of a three-way comparison for op.
bool Holds(const std::string& op, int order) {
  if (op == "=") return order == 0;
  if (op == "<>") return order != 0;
  if (op == "<") return order < 0;
  if (op == ">") return order > 0;
  if (op == "<=") return order <= 0;
  return order >= 0;  // ">="
}

bool Compare(const Node& node, const Variant& value, TFilterOptions options) {
  if (node.literal.IsNull()) {
    if (node.op == "=") return value.IsNull();
    if (node.op == "<>") return !value.IsNull();
    return false;
  }
  if (value.IsNull()) return false;
  if (node.literal.Type() == TVarType::Float) {
    const double a = value.AsFloat(), b = node.literal.AsFloat();
    return Holds(node.op, a < b ? -1 : a > b ? 1 : 0);
  }
  std::string a = value.AsString();
  std::string b = node.literal.AsString();
  if (options & foCaseInsensitive) {
    a = LowerCase(a);
    b = LowerCase(b);
  }
  const bool partial = (node.op == "=" || node.op == "<>") && !(options & foNoPartialCompare) && !b.empty() &&
                       b.back() == '*';
  if (partial) {
    const bool begins = a.compare(0, b.size() - 1, b, 0, b.size() - 1) == 0;
    return node.op == "=" ? begins : !begins;
  }
  const int order = a.compare(b);
  return Holds(node.op, order < 0 ? -1 : order > 0 ? 1 : 0);
}

bool Evaluate(const Node& node, const std::function<Variant(const std::string&)>& value_of,
              TFilterOptions options) {
  switch (node.kind) {
    case Node::Kind::And: return Evaluate(*node.left, value_of, options) && Evaluate(*node.right, value_of, options);
    case Node::Kind::Or: return Evaluate(*node.left, value_of, options) || Evaluate(*node.right, value_of, options);
    case Node::Kind::Not: return !Evaluate(*node.left, value_of, options);
    case Node::Kind::IsNull: return value_of(node.field).IsNull();
    case Node::Kind::IsNotNull: return !value_of(node.field).IsNull();
    case Node::Kind::Compare: break;
  }
  return Compare(node, value_of(node.field), options);
}

}  // namespace

TFilterExpression::TFilterExpression(const std::string& text, TFilterOptions options) : options_(options) {
  if (Trim(text).empty()) return;  // every row passes
  Parser parser(Tokens(text));
  root_ = parser.Expression();
  if (!parser.AtEnd()) Incorrect("unexpected text after the expression");
}

TFilterExpression::~TFilterExpression() = default;
TFilterExpression::TFilterExpression(TFilterExpression&&) noexcept = default;
TFilterExpression& TFilterExpression::operator=(TFilterExpression&&) noexcept = default;

bool TFilterExpression::Matches(const std::function<Variant(const std::string& field)>& value_of) const {
  return !root_ || Evaluate(*root_, value_of, options_);
}

}  // namespace tersify
