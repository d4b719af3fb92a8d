#include "client/providers/odbc/own_row_count.h"

#include <cctype>

namespace tersify::providers::odbc {
namespace {

std::string Lower(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) out += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

bool IsWordChar(char c) { return std::isalnum(static_cast<unsigned char>(c)) || c == '_' || c == '@' || c == '#'; }

bool HasWord(const std::string& lower, const std::string& word) {
  for (size_t at = lower.find(word); at != std::string::npos; at = lower.find(word, at + 1)) {
    const bool starts = at == 0 || !IsWordChar(lower[at - 1]);
    const bool ends = at + word.size() >= lower.size() || !IsWordChar(lower[at + word.size()]);
    if (starts && ends) return true;
  }
  return false;
}

}  // namespace

bool NeedsOwnRowCount(const std::string& sql) {
  const std::string lower = Lower(sql);
  size_t first = 0;
  while (first < lower.size() && std::isspace(static_cast<unsigned char>(lower[first]))) ++first;
  size_t word_end = first;
  while (word_end < lower.size() && IsWordChar(lower[word_end])) ++word_end;
  const std::string verb = lower.substr(first, word_end - first);
  if (verb != "insert" && verb != "update" && verb != "delete" && verb != "merge") return false;
  // One statement only: a ';' may end it, with nothing but blanks after.
  const size_t semicolon = lower.find(';');
  if (semicolon != std::string::npos)
    for (size_t i = semicolon + 1; i < lower.size(); ++i)
      if (!std::isspace(static_cast<unsigned char>(lower[i]))) return false;
  return !HasWord(lower, "output");
}

std::string WithOwnRowCount(const std::string& sql) {
  std::string text = sql;
  while (!text.empty() && (std::isspace(static_cast<unsigned char>(text.back())) || text.back() == ';'))
    text.pop_back();
  return text + ";\nselect @@ROWCOUNT";
}

}  // namespace tersify::providers::odbc
