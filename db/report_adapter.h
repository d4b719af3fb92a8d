#pragma once
// TfrxDBDataset: the reporting engine's dataset adapter, as far as the layer
// needs it. Every TvrDataset has one, made without owner, bound to it and
// bearing its component name; ReportCompanions owns them.

#include <string>

#include "framework/rtl/component.h"

namespace tersify {

class TDataSet;

class TfrxDBDataset : public TComponent {
 public:
  // Made without owner: the adapter belongs to ReportCompanions.
  TfrxDBDataset() : TComponent(nullptr) {}

  TDataSet* DataSet() const { return dataset_; }
  void SetDataSet(TDataSet* dataset) { dataset_ = dataset; }
  // The name the report knows the dataset by (the dataset's component name).
  const std::string& UserName() const { return Name(); }

 private:
  TDataSet* dataset_ = nullptr;  // not owned
};

}  // namespace tersify
