#pragma once
// A dataset that keeps its rows in memory: the test double for the framework's
// dataset. It records what InternalPost/InternalDelete received, can keep the
// values of chosen columns out of its rows (deferred) and counts how often they
// are fetched, and can be told to fail its next post, edit or delete.

#include <map>
#include <string>
#include <vector>

#include "framework/data/dataset.h"

namespace tersify::testing {

struct MemColumn {
  std::string name;
  TFieldType type;
  bool deferred = false;
};

class TMemDataSet : public TDataSet {
 public:
  explicit TMemDataSet(TComponent* owner = nullptr) : TDataSet(owner) {}
  ~TMemDataSet() override { Close(); }

  std::vector<MemColumn> columns;
  std::vector<std::vector<Variant>> rows;  // the "table"
  TParams params;
  bool has_params = false;

  // What the hooks saw.
  struct PostCall {
    bool inserting;
    std::vector<Variant> old_values;  // empty when inserting
    std::vector<Variant> new_values;
  };
  std::vector<PostCall> posts;
  std::vector<std::vector<Variant>> deletes;
  int opens = 0;
  int fetches = 0;
  std::map<std::pair<int, int>, int> fetches_by_cell;
  int fail_posts = 0;    // that many posts raise EDatabaseError
  int fail_deletes = 0;
  int current_changes = 0;
  std::vector<std::string> param_values_at_open;  // "name=value" for each open

  TParams* DetailParams() override { return has_params ? &params : nullptr; }

  using TDataSet::CurrentIndex;
  using TDataSet::EditBuffer;
  using TDataSet::OldRecord;
  int LoadedDeferred() const { return loaded_; }

 protected:
  void InternalInitFieldDefs() override {
    for (const MemColumn& c : columns) FieldDefs().Add(c.name, c.type, 0, false);
  }
  void InternalOpen() override {
    ++opens;
    std::string seen;
    for (int i = 0; i < params.Count(); ++i)
      seen += (i ? ";" : "") + params[i].Name() + "=" + params[i].AsString();
    param_values_at_open.push_back(seen);
    InternalInitFieldDefs();
    for (const auto& row : rows) {
      Record r;
      for (size_t c = 0; c < columns.size(); ++c) {
        const bool deferred = columns[c].deferred;
        r.values.push_back(deferred ? Variant() : row[c]);
        r.deferred.push_back(deferred);
      }
      AppendRecord(std::move(r));
    }
  }
  void InternalClose() override { loaded_ = 0; }
  void InternalPost() override {
    if (fail_posts > 0) {
      --fail_posts;
      throw EDatabaseError("post refused");
    }
    PostCall call{State() == TDataSetState::dsInsert, {}, {}};
    for (int i = 0; i < FieldCount(); ++i) {
      if (!call.inserting) call.old_values.push_back(Fields(i)->OldValue());
      call.new_values.push_back(Fields(i)->NewValue());
    }
    posts.push_back(call);
  }
  void InternalDelete() override {
    if (fail_deletes > 0) {
      --fail_deletes;
      throw EDatabaseError("delete refused");
    }
    std::vector<Variant> values;
    for (int i = 0; i < FieldCount(); ++i) values.push_back(Fields(i)->Value());
    deletes.push_back(values);
  }
  Variant FetchDeferredValue(int record_index, int column) override {
    ++fetches;
    ++loaded_;
    ++fetches_by_cell[{record_index, column}];
    return rows.at(static_cast<size_t>(record_index)).at(static_cast<size_t>(column));
  }
  void CurrentRecordChanged() override {
    ++current_changes;
    loaded_ = 0;
  }

 private:
  int loaded_ = 0;
};

}  // namespace tersify::testing
