#pragma once
// TvrDataset: the layer's query dataset. It runs one SQL query through the
// client library and adds attachment to a TvrDatabase (the default database as
// fallback at construction and at open), its own option defaults, a trace of
// every open while SQLTraceEnabled is on, optional upper-casing of field names,
// the blob compression switches and their binding (db/blob_binding.cpp),
// refused generated-statement kinds, a default delete-error handler that
// defers to DeleteErrorHook, and registration in DatasetRegistry with a
// reporting-engine adapter in ReportCompanions.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "blob/cblob_stream.h"
#include "client/ms_dataset.h"
#include "framework/rtl/method.h"
#include "framework/rtl/strings.h"

namespace tersify {

class TvrDatabase;
class TvrDataset;

// Flags in a dataset's Tag.
inline constexpr int tgGenerateSQL = 16;
inline constexpr int tgKeyChanged = 32;
// Flags in a field's Tag.
inline constexpr int tgNoSQL = 16;
inline constexpr int tgWriteReadOnly = 1;  // the exact value 1

using TAfterPostExEvent = TMethod<void(TDataSet* dataset, bool from_error)>;
// No sender: the field identifies the blob.
using TGetCompressionOptionsEvent =
    TMethod<void(TField* field, bool& tersify, TvrCompressionAlgorithm& algorithm, TvrCompressionLevel& level)>;

// A field's set-text handler kept while the dataset's numeric handler stands in for it.
class TSetTextHelper : public TObject {
 public:
  TFieldSetTextEvent SavedOnSetText;
  TField* Field = nullptr;  // not owned
};

class TvrDataset : public TCustomMSDataSet {
 public:
  explicit TvrDataset(TComponent* owner);
  ~TvrDataset() override;

  // ---- published, in published order
  TvrDatabase* Database() const { return database_; }
  // Stores the reference; a database is prepared and its client connection
  // becomes Connection. Nil keeps Connection as it is.
  void SetDatabase(TvrDatabase* database);
  bool RebuildFieldsBeforeOpen() const { return rebuild_fields_before_open_; }
  void SetRebuildFieldsBeforeOpen(bool value) { rebuild_fields_before_open_ = value; }
  bool FieldNamesToUpperCase() const { return field_names_to_upper_case_; }
  void SetFieldNamesToUpperCase(bool value) { field_names_to_upper_case_ = value; }
  // Active (the base's) with the open trace and the default-database fallback.
  void SetActive(bool value) override;
  // True always reaches the base; false only with a database whose
  // PartialFetchAllowed is true.
  void SetFetchAll(bool value) override;
  bool AutoCalcFields() const { return auto_calc_fields_; }
  void SetAutoCalcFields(bool value) { auto_calc_fields_ = value; }
  bool Cached() const { return cached_; }
  void SetCached(bool value) { cached_ = value; }
  bool LocateInsert() const { return locate_insert_; }
  void SetLocateInsert(bool value) { locate_insert_ = value; }
  bool Editable() const { return !ReadOnly(); }
  void SetEditable(bool value) { SetReadOnly(!value); }
  bool RequestLive() const { return request_live_; }
  void SetRequestLive(bool value) { request_live_ = value; }
  bool NonBlocking() { return Options().NonBlocking; }
  void SetNonBlocking(bool value) { Options().NonBlocking = value; }
  const std::string& KeyFields() const { return key_fields_; }
  void SetKeyFields(const std::string& value) { key_fields_ = value; }
  // Writing always stores false.
  bool QueryRecCount() { return Options().QueryRecCount; }
  void SetQueryRecCount(bool /*value*/) { Options().QueryRecCount = false; }
  int DetailDelay() { return Options().DetailDelay; }
  void SetDetailDelay(int value) { Options().DetailDelay = value; }
  bool LocalMasterDetail() { return Options().LocalMasterDetail; }
  void SetLocalMasterDetail(bool value) { Options().LocalMasterDetail = value; }
  bool StrictUpdate() { return Options().StrictUpdate; }
  void SetStrictUpdate(bool value) { Options().StrictUpdate = value; }
  bool TrimFixedChar() { return Options().TrimFixedChar; }
  void SetTrimFixedChar(bool value) { Options().TrimFixedChar = value; }
  bool TrimVarChar() { return Options().TrimVarChar; }
  void SetTrimVarChar(bool value) { Options().TrimVarChar = value; }
  bool AddRowidToSQL() const { return add_rowid_to_sql_; }
  void SetAddRowidToSQL(bool value) { add_rowid_to_sql_ = value; }
  // Writing copies the given lines and objects; the given list stays the caller's.
  TStringList& slTag() { return *sl_tag_; }
  void SetslTag(const TStringList& value) { sl_tag_->Assign(value); }
  bool ORACompatibility() const { return ora_compatibility_; }
  void SetORACompatibility(bool value) { ora_compatibility_ = value; }
  TAfterPostExEvent AfterPostEx;
  bool AutoTransactOnPost() const { return auto_transact_on_post_; }
  void SetAutoTransactOnPost(bool value) { auto_transact_on_post_ = value; }
  // CommandTimeout is the base's.
  bool Tersify() const { return tersify_; }
  void SetTersify(bool value) { tersify_ = value; }
  TvrCompressionAlgorithm CompressionAlg() const { return compression_alg_; }
  void SetCompressionAlg(TvrCompressionAlgorithm value) { compression_alg_ = value; }
  TvrCompressionLevel CompressionLevel() const { return compression_level_; }
  void SetCompressionLevel(TvrCompressionLevel value) { compression_level_ = value; }
  TGetCompressionOptionsEvent OnGetCompressionOptions;

  // The name setter renames the dataset's reporting adapter too (a non-empty name).
  void SetName(const std::string& name) override;
  int RecordCount() const override;

  // ---- used by the posting and key-procedure steps
  const std::string& TableName() const { return table_name_; }
  void SetTableName(const std::string& value) { table_name_ = value; }
  // The key-change procedure map; nullptr until first loaded.
  TStringList* KeyProcMap() const { return key_proc_map_.get(); }
  std::unique_ptr<TStringList>& KeyProcMapSlot() { return key_proc_map_; }

  // Rebuilds the data fields from field definitions read afresh.
  virtual void RebuildFields();
  // Fires AfterPostEx when assigned.
  virtual void DoAfterPostEx(TDataSet* dataset, bool from_error);

  void Post() override;

  // ---- blob compression binding
  static bool IsCompressibleField(const TField* field);
  // The same test by field type alone.
  static bool IsCompressibleFieldType(TFieldType type);
  // Compressed, Algorithm and Level from the dataset, then from
  // OnGetCompressionOptions when assigned.
  void GetCompressionOptions(TField* field, bool& compressed, TvrCompressionAlgorithm& algorithm,
                             TvrCompressionLevel& level);
  // The client's blob stream, wrapped in a TCBlobStream when the field is
  // compressible and the mode reads or the field's writes are compressed.
  std::unique_ptr<TStream> OpenBlobStream(TField* field, TBlobStreamMode mode);
  std::unique_ptr<TStream> CreateBlobStream(TField* field, TBlobStreamMode mode) override;

  // ---- numeric text input
  void InstallNumericHandlers();
  void RemoveNumericHandlers();
  // The set-text handler InstallNumericHandlers gives numeric fields: cleans
  // the text (db/numeric_input.h), then hands it to the field's kept handler,
  // or sets the field from it as AsString does.
  void NumericSetText(TField* Sender, const std::string& Text);
  std::vector<std::unique_ptr<TSetTextHelper>>& SetTextHelpers() { return set_text_helpers_; }

  // Generated-statement kinds the dataset refuses. Empty, and nothing in the
  // layer changes it; a program (or a test) may.
  TStatementTypes RefusedStatements() const { return FRefusedStatements; }
  void SetRefusedStatements(TStatementTypes kinds) { FRefusedStatements = kinds; }

 protected:
  void Loaded() override;
  void CreateFields() override;
  void DoAfterOpen() override;
  void DoBeforeClose() override;
  void DoBeforeOpen() override;
  void DoBeforePost() override;
  bool PerformStatement(TStatementTypes kinds) override;
  // The statement BuildPostStatement wrote for this post is held to one row.
  bool HoldsToOneRow(TStatementType kind, bool generated) override;
  void AfterRowStatement(TDataSet* sender, TStatementTypes kinds, TParams& params) override;
  // Runs the key-change procedures after an update that changed a key field.
  virtual void RunKeyChangeProcs();
  // What the client's post runs before it writes the row (DoBeforePost): marks
  // changed key fields, fires BeforePost, then, with tgGenerateSQL in Tag, a
  // TableName and UpdateAllFields off, generates the row's statement.
  void BeforePostStep();
  // Probes the database once for key-change support and loads the
  // key-procedure map once (only with a TableName).
  void LoadKeyProcMap();
  // Sets tgKeyChanged on changed key fields that have a key-change procedure,
  // and on the dataset when any has.
  void MarkChangedKeys();

 private:
  // The handler OnDeleteError gets at construction.
  void DefaultDeleteError(TDataSet* dataset, EDatabaseError& error, TDataAction& action);
  void TraceOpen(const char* operation);
  void AddReportCompanion();
  // Writes SQLInsert or SQLUpdate for the row being posted, with audit columns.
  void BuildPostStatement();
  // Tag, TableName and UpdateAllFields let BuildPostStatement run.
  bool GeneratesPostStatements();

  std::string key_fields_;
  TvrDatabase* database_ = nullptr;  // not owned
  bool cached_ = false;
  bool request_live_ = false;
  bool locate_insert_ = false;
  bool add_rowid_to_sql_ = false;
  std::unique_ptr<TStringList> sl_tag_;
  bool ora_compatibility_ = true;
  bool auto_calc_fields_ = false;
  std::string table_name_;
  bool rebuild_fields_before_open_ = false;
  bool field_names_to_upper_case_ = false;
  TStatementTypes FRefusedStatements = 0;
  std::vector<std::unique_ptr<TSetTextHelper>> set_text_helpers_;
  bool auto_transact_on_post_ = false;
  std::unique_ptr<TStringList> key_proc_map_;
  // The kind of statement BuildPostStatement wrote for the post under way;
  // stQuery when it wrote none.
  TStatementType layer_statement_ = stQuery;
  TvrCompressionAlgorithm compression_alg_ = caZLIB;
  TvrCompressionLevel compression_level_ = clNormal;
  bool tersify_ = false;
};

}  // namespace tersify
