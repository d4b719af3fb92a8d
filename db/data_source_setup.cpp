#include "db/data_source_setup.h"

#include <vector>

#include "db/database.h"
#include "db/dataset.h"
#include "db/registries.h"

namespace tersify {

TvrDataSource::TvrDataSource(TComponent* owner) : TDataSource(owner) {
  sql_ = std::make_unique<TStringList>();
  RegisterIn(DataSourceRegistry, static_cast<TDataSource*>(this));
}

TvrDataSource::~TvrDataSource() {
  Destroying();
  UnregisterFrom(DataSourceRegistry, static_cast<const TDataSource*>(this));
}

void TakeDataSourceDefaults(const TvrDataSource& source, TvrDataset& dataset) {
  // The event order is the one the handlers are handed on in.
  using Event = TDataSetNotifyEvent TDataSet::*;
  using SourceEvent = TDataSetNotifyEvent TvrDataSource::*;
  static const std::pair<Event, SourceEvent> kEvents[] = {
      {&TDataSet::OnCalcFields, &TvrDataSource::OnCalcFields},
      {&TDataSet::BeforeOpen, &TvrDataSource::BeforeOpen},
      {&TDataSet::AfterOpen, &TvrDataSource::AfterOpen},
      {&TDataSet::BeforeScroll, &TvrDataSource::BeforeScroll},
      {&TDataSet::AfterScroll, &TvrDataSource::AfterScroll},
      {&TDataSet::BeforeDelete, &TvrDataSource::BeforeDelete},
      {&TDataSet::AfterDelete, &TvrDataSource::AfterDelete},
      {&TDataSet::BeforeInsert, &TvrDataSource::BeforeInsert},
      {&TDataSet::AfterInsert, &TvrDataSource::AfterInsert},
      {&TDataSet::BeforeEdit, &TvrDataSource::BeforeEdit},
      {&TDataSet::AfterEdit, &TvrDataSource::AfterEdit},
      {&TDataSet::BeforePost, &TvrDataSource::BeforePost},
      {&TDataSet::AfterPost, &TvrDataSource::AfterPost},
      {&TDataSet::OnNewRecord, &TvrDataSource::OnNewRecord},
  };
  for (const auto& [event, source_event] : kEvents)
    if (!(dataset.*event)) dataset.*event = source.*source_event;
  if (!dataset.OnUpdateRecord) dataset.OnUpdateRecord = source.OnUpdateRecord;
  if (dataset.SQL().Text().empty()) dataset.SQL().Assign(source.SQL());
}

void SetupDataSources(TvrDatabase& database) {
  if (!DataSourceRegistry) return;
  // A copy: nothing set up here registers, but the list must not move under the walk.
  const std::vector<TDataSource*> entries = DataSourceRegistry->List();
  for (TDataSource* entry : entries) {
    auto* source = dynamic_cast<TvrDataSource*>(entry);
    if (!source || source->Database() != &database) continue;
    if (source->DataSet() && source->DataSet()->Active()) continue;
    TvrDataset* dataset = nullptr;
    if (database.ConnectionType() == ctSDAC) {
      dataset = MakeComponent<TvrDataset>(source);
      dataset->SetDatabase(&database);
      dataset->Options().QueryRecCount = false;
      dataset->SetFetchAll(true);
      dataset->SetFetchRows(database.DatasetSettings().FetchCount());
    }
    source->SetDataSet(dataset);
    if (dataset) TakeDataSourceDefaults(*source, *dataset);
  }
}

void ForgetDataSourceDatabase(const TvrDatabase* database) {
  if (!DataSourceRegistry) return;
  for (TDataSource* entry : DataSourceRegistry->List()) {
    auto* source = dynamic_cast<TvrDataSource*>(entry);
    if (source && source->Database() == database) source->SetDatabase(nullptr);
  }
}

}  // namespace tersify
