#pragma once
// String lists: lines, each with an associated object, name=value pairs, and a
// Text form in which every line is followed by CR LF.

#include <string>
#include <vector>

#include "framework/rtl/object.h"

namespace tersify {

inline constexpr const char* sLineBreak = "\r\n";

class TStrings : public TObject {
 public:
  TStrings() = default;
  TStrings(const TStrings& other) { Assign(other); }
  TStrings& operator=(const TStrings& other) {
    if (this != &other) Assign(other);
    return *this;
  }
  ~TStrings() override;

  int Count() const { return static_cast<int>(items_.size()); }
  const std::string& operator[](int index) const { return Item(index).text; }
  const std::string& Strings(int index) const { return Item(index).text; }
  void SetStrings(int index, const std::string& text) { Item(index).text = text; }
  TObject* Objects(int index) const { return Item(index).object; }
  void SetObjects(int index, TObject* object) { Item(index).object = object; }

  int Add(const std::string& text) { return AddObject(text, nullptr); }
  int AddObject(const std::string& text, TObject* object);
  void Insert(int index, const std::string& text, TObject* object = nullptr);
  void Delete(int index);
  void Clear();
  // Copies lines and objects (the objects stay their owner's).
  void Assign(const TStrings& source);
  void AddStrings(const TStrings& source);

  // Case-insensitive unless CaseSensitive is set.
  int IndexOf(const std::string& text) const;
  int IndexOfObject(const TObject* object) const;
  bool CaseSensitive() const { return case_sensitive_; }
  void SetCaseSensitive(bool value) { case_sensitive_ = value; }

  // Every line followed by CR LF. Setting splits at CR LF, LF or CR.
  std::string Text() const;
  void SetText(const std::string& text);

  // name=value lines.
  std::string Names(int index) const;
  std::string ValueFromIndex(int index) const;
  int IndexOfName(const std::string& name) const;
  std::string Values(const std::string& name) const;
  // Sets the value of name, adding a line when there is none; an empty value removes the line.
  void SetValue(const std::string& name, const std::string& value);

  // When set, the list destroys the objects of lines it deletes, and all at its end.
  bool OwnsObjects() const { return owns_objects_; }
  void SetOwnsObjects(bool value) { owns_objects_ = value; }

 private:
  struct Line {
    std::string text;
    TObject* object = nullptr;
  };
  Line& Item(int index);
  const Line& Item(int index) const;
  bool Same(const std::string& a, const std::string& b) const;

  std::vector<Line> items_;
  bool case_sensitive_ = false;
  bool owns_objects_ = false;
};

using TStringList = TStrings;

}  // namespace tersify
