#include "framework/data/blob_stream.h"

#include <algorithm>
#include <cstring>

#include "framework/data/dataset.h"
#include "framework/rtl/exception.h"

namespace tersify {

namespace {

bool StoresText(TFieldType t) {
  return t == ftMemo || t == ftFmtMemo || t == ftOraClob || t == ftWideMemo || t == ftString ||
         t == ftWideString || t == ftFixedChar || t == ftFixedWideChar;
}

}  // namespace

TDataSetBlobStream::TDataSetBlobStream(TDataSet& dataset, TField* field, TBlobStreamMode mode)
    : dataset_(dataset), field_(field), mode_(mode) {
  if (mode != TBlobStreamMode::bmRead) {
    dataset.CheckEditing();
    if (field->ReadOnly())
      throw EDatabaseError(Format("Field '%s' cannot be modified", field->FieldName().c_str()));
  }
  if (mode == TBlobStreamMode::bmWrite) {
    modified_ = true;  // the value is replaced, also by nothing
  } else {
    const Variant& value = dataset.ReadValue(field);
    data_ = value.Type() == TVarType::String || value.Type() == TVarType::Bytes ? value.RawString()
                                                                                 : value.AsString();
  }
}

TDataSetBlobStream::~TDataSetBlobStream() {
  try {
    Flush();
  } catch (...) {
    // A destructor cannot report: the value is stored before OnChange runs, so
    // only an error raised by the handler is lost here. Call Flush to see it.
  }
}

void TDataSetBlobStream::Flush() {
  if (!modified_) return;
  modified_ = false;
  const TDataSetState state = dataset_.State();
  if (state != TDataSetState::dsEdit && state != TDataSetState::dsInsert) return;  // the edit was given up
  Variant value = StoresText(field_->DataType()) ? Variant(std::move(data_)) : Variant(TBytes{std::move(data_)});
  data_.clear();
  position_ = 0;
  dataset_.SetFieldValue(field_, value);
  if (field_->OnChange) field_->OnChange(field_);
}

int64_t TDataSetBlobStream::Read(void* buffer, int64_t count) {
  const int64_t size = Size();
  if (count <= 0 || position_ >= size) return 0;
  const int64_t n = std::min(count, size - position_);
  std::memcpy(buffer, data_.data() + position_, static_cast<size_t>(n));
  position_ += n;
  return n;
}

int64_t TDataSetBlobStream::Write(const void* buffer, int64_t count) {
  if (mode_ == TBlobStreamMode::bmRead || count <= 0) return 0;
  const size_t end = static_cast<size_t>(position_ + count);
  if (data_.size() < end) data_.resize(end);
  std::memcpy(data_.data() + position_, buffer, static_cast<size_t>(count));
  position_ += count;
  modified_ = true;
  return count;
}

int64_t TDataSetBlobStream::Seek(int64_t offset, TSeekOrigin origin) {
  int64_t target = offset;
  if (origin == TSeekOrigin::soCurrent) target += position_;
  if (origin == TSeekOrigin::soEnd) target += Size();
  if (target < 0) throw EStreamError("Invalid stream position");
  position_ = target;
  return position_;
}

void TDataSetBlobStream::SetSize(int64_t size) {
  if (size < 0) throw EStreamError("Invalid stream size");
  if (mode_ == TBlobStreamMode::bmRead) throw EStreamError("Stream cannot be resized");
  data_.resize(static_cast<size_t>(size));
  if (position_ > size) position_ = size;
  modified_ = true;
}

}  // namespace tersify
