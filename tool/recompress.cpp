#include "tool/recompress.h"

#include <iostream>
#include <memory>

#include "blob/cblob_stream.h"
#include "db/dataset.h"
#include "framework/rtl/exception.h"
#include "tool/identifier_check.h"
#include "tool/user_interface.h"

namespace tersify {
namespace {

void ReportPassError(bool interactive, const std::string& message) {
  if (interactive) {
    CurrentUserInterface().ShowMessage("Error", message, TMsgDlgType::mtError);
  } else {
    std::cout << "Critical error occured:\n" << message << '\n' << std::flush;
  }
}

void RunPass(int32_t command, const std::string& table, const std::string& field_name,
             const std::string& key, TRecompressProgressEvent on_progress, int32_t& processed,
             int32_t& skipped, TRecompressObserver* observer) {
  // Names go into the SQL text unquoted: refuse anything that is no plain name
  // before a statement is built.
  CheckSqlName("table", table);
  CheckSqlName("field", field_name);
  if (!key.empty()) CheckSqlName("key field", key);

  auto dataset = std::make_unique<TvrDataset>(nullptr);
  if (!key.empty()) {
    dataset->SetSQLText("select " + key + "," + field_name + " from " + table);
    dataset->SetKeyFields(key);
  } else {
    dataset->SetSQLText("select * from " + table);
  }
  dataset->Open();
  dataset->SetTersify(command == 1);

  TField* field = dataset->FieldByName(field_name);
  if (!TvrDataset::IsCompressibleField(field) || dynamic_cast<TBlobField*>(field) == nullptr)
    throw Exception(Format("Field %s from table %s can't be compressed", field_name.c_str(),
                           table.c_str()));
  if (observer) observer->PassStarted(dataset->RecordCount());

  dataset->First();
  while (!dataset->Eof()) {
    std::unique_ptr<TStream> stream = dataset->OpenBlobStream(field, TBlobStreamMode::bmRead);
    // For a compressible field the binding always hands out the envelope stream.
    auto* envelope = dynamic_cast<TCBlobStream*>(stream.get());
    const bool stored_compressed = envelope != nullptr && envelope->Compressed();
    const int64_t size = stream->Size();
    if (stored_compressed != dataset->Tersify() && size > kRecompressThreshold) {
      std::string plain(static_cast<size_t>(size), '\0');
      stream->SetPosition(0);
      stream->Read(plain.data(), size);
      stream.reset();
      dataset->Edit();
      field->SetAsString(plain);
      plain.clear();
      plain.shrink_to_fit();
      dataset->Post();
      ++processed;
      if (observer) observer->RowHandled(size, true);
      if (on_progress) on_progress(field);
    } else {
      stream.reset();
      ++skipped;
      if (observer) observer->RowHandled(size, false);
      if (on_progress) on_progress(nullptr);
    }
    dataset->Next();
  }
}

}  // namespace

bool RecompressTable(bool Interactive, int32_t Command, const std::string& Table,
                     const std::string& Field, const std::string& Key,
                     TRecompressProgressEvent OnProgress, int32_t& Processed, int32_t& Skipped,
                     TRecompressObserver* Observer) {
  try {
    RunPass(Command, Table, Field, Key, OnProgress, Processed, Skipped, Observer);
    if (Observer) Observer->PassEnded();
    return true;
  } catch (const std::exception& e) {
    // The observer finishes first, so that the report starts on a line of its own.
    if (Observer) Observer->PassEnded();
    ReportPassError(Interactive, e.what());
    return false;
  }
}

}  // namespace tersify
