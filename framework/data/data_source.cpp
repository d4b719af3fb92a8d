#include "framework/data/data_source.h"

#include <algorithm>

#include "framework/data/dataset.h"

namespace tersify {

TDataSource::TDataSource(TComponent* owner) : TComponent(owner) {}

TDataSource::~TDataSource() {
  Destroying();
  for (TDataSet* detail : details_) detail->master_source_ = nullptr;
  details_.clear();
  if (dataset_) dataset_->RemoveDataSource(this);
}

void TDataSource::SetDataSet(TDataSet* dataset) {
  if (dataset == dataset_) return;
  if (dataset_) dataset_->RemoveDataSource(this);
  dataset_ = dataset;
  if (dataset_) {
    dataset_->AddDataSource(this);
    if (dataset_->Active()) NotifyDataChange(nullptr);
  }
}

void TDataSource::NotifyDataChange(TField* field) {
  if (!enabled_) return;
  if (OnDataChange) OnDataChange(this, field);
  if (field) return;  // a changed value is no new row: details stay as they are
  const std::vector<TDataSet*> details = details_;
  for (TDataSet* detail : details)
    if (std::find(details_.begin(), details_.end(), detail) != details_.end()) detail->MasterChanged();
}

void TDataSource::AddDetail(TDataSet* detail) {
  if (std::find(details_.begin(), details_.end(), detail) == details_.end()) details_.push_back(detail);
}

void TDataSource::RemoveDetail(TDataSet* detail) {
  details_.erase(std::remove(details_.begin(), details_.end(), detail), details_.end());
}

void TDataSource::DataSetDestroyed() { dataset_ = nullptr; }

}  // namespace tersify
