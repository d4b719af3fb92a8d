#pragma once
// Automatic data-source setup: a TvrDataSource bound to a TvrDatabase gets a
// ready TvrDataset (not opened) each time that database connects with
// AutoSetupDataSources on. The data source carries the SQL text and the
// dataset event handlers the new dataset starts with.

#include <memory>

#include "client/ms_dataset.h"
#include "framework/data/data_source.h"
#include "framework/data/dataset.h"
#include "framework/rtl/strings.h"

namespace tersify {

class TvrDatabase;
class TvrDataset;

class TvrDataSource : public TDataSource {
 public:
  // Registers in DataSourceRegistry.
  explicit TvrDataSource(TComponent* owner);
  // Leaves DataSourceRegistry (nothing when the layer has shut down already).
  ~TvrDataSource() override;

  // The database whose connects set this source up; not owned. A destroyed
  // database leaves the data sources bound to it with none.
  TvrDatabase* Database() const { return database_; }
  void SetDatabase(TvrDatabase* database) { database_ = database; }
  // The SQL text a set-up dataset takes when its own is empty.
  TStringList& SQL() { return *sql_; }
  const TStringList& SQL() const { return *sql_; }

  // Handlers a set-up dataset takes for each of these events it has none for.
  TDataSetNotifyEvent OnCalcFields, BeforeOpen, AfterOpen, BeforeScroll, AfterScroll, BeforeDelete,
      AfterDelete, BeforeInsert, AfterInsert, BeforeEdit, AfterEdit, BeforePost, AfterPost, OnNewRecord;
  TUpdateRecordEvent OnUpdateRecord;

 private:
  TvrDatabase* database_ = nullptr;
  std::unique_ptr<TStringList> sql_;
};

// Gives dataset the source's handlers for the events it has none for, and the
// source's SQL text when its own is empty.
void TakeDataSourceDefaults(const TvrDataSource& source, TvrDataset& dataset);

// The walk of the connect sequence: each registered data source bound to
// database whose dataset is not open gets a new TvrDataset owned by it,
// attached to database and not opened (with a connection type other than
// ctSDAC: no dataset at all).
void SetupDataSources(TvrDatabase& database);

// Called by a TvrDatabase being destroyed: data sources bound to it are left
// with none.
void ForgetDataSourceDatabase(const TvrDatabase* database);

}  // namespace tersify
