#include "framework/rtl/strings.h"

#include "framework/rtl/exception.h"
#include "framework/rtl/platform.h"

namespace tersify {

TStrings::~TStrings() { Clear(); }

TStrings::Line& TStrings::Item(int index) {
  if (index < 0 || index >= Count())
    throw EListError(Format("List index out of bounds (%d)", index));
  return items_[static_cast<size_t>(index)];
}

const TStrings::Line& TStrings::Item(int index) const {
  if (index < 0 || index >= Count())
    throw EListError(Format("List index out of bounds (%d)", index));
  return items_[static_cast<size_t>(index)];
}

bool TStrings::Same(const std::string& a, const std::string& b) const {
  return case_sensitive_ ? a == b : SameText(a, b);
}

int TStrings::AddObject(const std::string& text, TObject* object) {
  items_.push_back({text, object});
  return Count() - 1;
}

void TStrings::Insert(int index, const std::string& text, TObject* object) {
  if (index < 0 || index > Count()) throw EListError(Format("List index out of bounds (%d)", index));
  items_.insert(items_.begin() + index, Line{text, object});
}

void TStrings::Delete(int index) {
  TObject* object = Item(index).object;
  items_.erase(items_.begin() + index);
  if (owns_objects_) delete object;  // ownership type: an owning list frees its objects
}

void TStrings::Clear() {
  if (owns_objects_)
    for (Line& line : items_) delete line.object;  // see Delete
  items_.clear();
}

void TStrings::Assign(const TStrings& source) {
  if (this == &source) return;
  Clear();
  items_ = source.items_;
  case_sensitive_ = source.case_sensitive_;
}

void TStrings::AddStrings(const TStrings& source) {
  for (const Line& line : source.items_) items_.push_back(line);
}

int TStrings::IndexOf(const std::string& text) const {
  for (int i = 0; i < Count(); ++i)
    if (Same(items_[static_cast<size_t>(i)].text, text)) return i;
  return -1;
}

int TStrings::IndexOfObject(const TObject* object) const {
  for (int i = 0; i < Count(); ++i)
    if (items_[static_cast<size_t>(i)].object == object) return i;
  return -1;
}

std::string TStrings::Text() const {
  std::string text;
  for (const Line& line : items_) {
    text += line.text;
    text += sLineBreak;
  }
  return text;
}

void TStrings::SetText(const std::string& text) {
  Clear();
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find_first_of("\r\n", start);
    if (end == std::string::npos) {
      Add(text.substr(start));
      break;
    }
    Add(text.substr(start, end - start));
    start = end + ((text[end] == '\r' && end + 1 < text.size() && text[end + 1] == '\n') ? 2 : 1);
  }
}

std::string TStrings::Names(int index) const {
  const std::string& line = Item(index).text;
  size_t eq = line.find('=');
  return eq == std::string::npos ? std::string() : line.substr(0, eq);
}

std::string TStrings::ValueFromIndex(int index) const {
  const std::string& line = Item(index).text;
  size_t eq = line.find('=');
  return eq == std::string::npos ? std::string() : line.substr(eq + 1);
}

int TStrings::IndexOfName(const std::string& name) const {
  for (int i = 0; i < Count(); ++i) {
    const std::string& line = items_[static_cast<size_t>(i)].text;
    size_t eq = line.find('=');
    if (eq != std::string::npos && Same(line.substr(0, eq), name)) return i;
  }
  return -1;
}

std::string TStrings::Values(const std::string& name) const {
  int i = IndexOfName(name);
  return i < 0 ? std::string() : ValueFromIndex(i);
}

void TStrings::SetValue(const std::string& name, const std::string& value) {
  int i = IndexOfName(name);
  if (value.empty()) {
    if (i >= 0) Delete(i);
    return;
  }
  if (i < 0)
    Add(name + "=" + value);
  else
    SetStrings(i, name + "=" + value);
}

}  // namespace tersify
