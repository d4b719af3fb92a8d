#include "db/registries.h"

#include "db/dataset.h"
#include "db/report_adapter.h"

namespace tersify {

std::atomic<TvrDatabase*> DefaultDatabase{nullptr};

std::unique_ptr<TComponentRegistry<TvrDatabase>> DatabaseRegistry;
std::unique_ptr<TComponentRegistry<TDataSource>> DataSourceRegistry;
std::unique_ptr<TComponentRegistry<TvrStoredProc>> StoredProcRegistry;
std::unique_ptr<TComponentRegistry<TvrScript>> ScriptRegistry;
std::unique_ptr<TComponentRegistry<TvrDataset>> DatasetRegistry;
std::unique_ptr<TReportCompanions> ReportCompanions;

TvrconnType DefaultConnectionType = ctSDAC;
TCreatingScript CreatingScript;
std::atomic<bool> SQLTraceEnabled{false};
TDeleteErrorHook DeleteErrorHook = nullptr;

TReportCompanions::TReportCompanions() = default;
TReportCompanions::~TReportCompanions() = default;

TfrxDBDataset* TReportCompanions::Add(std::unique_ptr<TfrxDBDataset> adapter) {
  items_.push_back(std::move(adapter));
  return items_.back().get();
}

TfrxDBDataset* TReportCompanions::FindByDataSet(const TDataSet* dataset) const {
  for (const auto& adapter : items_)
    if (adapter->DataSet() == dataset) return adapter.get();
  return nullptr;
}

void TReportCompanions::Release(TfrxDBDataset* adapter) {
  for (auto it = items_.begin(); it != items_.end(); ++it) {
    if (it->get() == adapter) {
      std::unique_ptr<TfrxDBDataset> released = std::move(*it);
      items_.erase(it);
      return;  // released here, after leaving the list
    }
  }
}

}  // namespace tersify
