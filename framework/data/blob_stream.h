#pragma once
// The framework's blob stream over a field's value in its dataset's active
// buffer. Read mode reads the value; write mode starts empty; read-write mode
// starts with the value. Write and read-write modes need the dataset in edit or
// insert state and a writable field. What was written becomes the field's value
// (bytes for binary types, text for memo and string types) when the stream goes,
// and the field's OnChange fires.

#include <string>

#include "framework/data/field.h"
#include "framework/rtl/stream.h"

namespace tersify {

class TDataSet;

class TDataSetBlobStream : public TStream {
 public:
  TDataSetBlobStream(TDataSet& dataset, TField* field, TBlobStreamMode mode);
  ~TDataSetBlobStream() override;

  int64_t Read(void* buffer, int64_t count) override;
  // In read mode nothing is written (the result is 0).
  int64_t Write(const void* buffer, int64_t count) override;
  int64_t Seek(int64_t offset, TSeekOrigin origin) override;
  int64_t Size() override { return static_cast<int64_t>(data_.size()); }
  void SetSize(int64_t size) override;

  // Stores what was written now (errors of OnChange reach the caller) and hands
  // the bytes to the field; the stream is empty afterwards. The destructor does
  // this when it was not done, and cannot report an error of OnChange.
  void Flush() override;

 private:
  TDataSet& dataset_;
  TField* field_;
  TBlobStreamMode mode_;
  std::string data_;
  int64_t position_ = 0;
  bool modified_ = false;
};

}  // namespace tersify
