#pragma once
// A data source links a dataset to what shows it, and a master dataset to its details.

#include <vector>

#include "framework/rtl/component.h"
#include "framework/rtl/method.h"

namespace tersify {

class TDataSet;
class TField;
class TDataSource;

using TDataChangeEvent = TMethod<void(TObject* sender, TField* field)>;

class TDataSource : public TComponent {
 public:
  explicit TDataSource(TComponent* owner);
  ~TDataSource() override;

  TDataSet* DataSet() const { return dataset_; }
  void SetDataSet(TDataSet* dataset);
  bool Enabled() const { return enabled_; }
  void SetEnabled(bool enabled) { enabled_ = enabled; }

  // Fired when the dataset's current row or its content changes.
  TDataChangeEvent OnDataChange;

  // Called by the dataset when its current row changed (field null: fires
  // OnDataChange and re-runs every detail dataset whose MasterSource is this
  // source) or when a value of the row changed (field set: fires OnDataChange
  // only). A disabled source does neither.
  void NotifyDataChange(TField* field);
  void AddDetail(TDataSet* detail);
  void RemoveDetail(TDataSet* detail);
  void DataSetDestroyed();

 private:
  TDataSet* dataset_ = nullptr;
  bool enabled_ = true;
  std::vector<TDataSet*> details_;
};

}  // namespace tersify
