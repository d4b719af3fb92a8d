#include "client/providers/sqlite/sqlite_registry.h"

#include <algorithm>
#include <atomic>
#include <cctype>
#include <mutex>

namespace tersify::providers {
namespace {

std::string Folded(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

// Entries in registration order; lookups take the newest of a name.
struct Registry {
  std::mutex mutex;
  std::vector<std::shared_ptr<const RegisteredProcedure>> procedures;
  std::vector<std::shared_ptr<const RegisteredFunction>> functions;
  int64_t next_id = 1;
  std::atomic<uint64_t> function_generation{0};
};

Registry& TheRegistry() {
  static Registry registry;  // lives to process end: handles may outlive main's locals
  return registry;
}

template <typename Entry>
std::shared_ptr<const Entry> Newest(const std::vector<std::shared_ptr<const Entry>>& entries,
                                    const std::string& name) {
  const std::string key = Folded(name);
  for (auto it = entries.rbegin(); it != entries.rend(); ++it)
    if (Folded((*it)->name) == key) return *it;
  return nullptr;
}

void Unregister(int64_t id) {
  Registry& r = TheRegistry();
  std::lock_guard lock(r.mutex);
  std::erase_if(r.procedures, [id](const auto& p) { return p->id == id; });
  const size_t before = r.functions.size();
  std::erase_if(r.functions, [id](const auto& f) { return f->id == id; });
  if (r.functions.size() != before) ++r.function_generation;
}

}  // namespace

Registration& Registration::operator=(Registration&& other) noexcept {
  if (this != &other) {
    Release();
    id_ = other.id_;
    other.id_ = 0;
  }
  return *this;
}

void Registration::Release() noexcept {
  if (id_ != 0) Unregister(id_);
  id_ = 0;
}

Registration RegisterProcedure(std::string name, std::vector<ProcParamInfo> params,
                               ProcedureBody body) {
  Registry& r = TheRegistry();
  std::lock_guard lock(r.mutex);
  auto entry = std::make_shared<RegisteredProcedure>();
  entry->name = std::move(name);
  entry->params = std::move(params);
  entry->body = std::move(body);
  entry->id = r.next_id++;
  r.procedures.push_back(entry);
  return Registration(entry->id);
}

Registration RegisterScalarFunction(std::string name, ScalarFunctionBody body) {
  Registry& r = TheRegistry();
  std::lock_guard lock(r.mutex);
  auto entry = std::make_shared<RegisteredFunction>();
  entry->name = std::move(name);
  entry->body = std::move(body);
  entry->id = r.next_id++;
  r.functions.push_back(entry);
  ++r.function_generation;
  return Registration(entry->id);
}

std::shared_ptr<const RegisteredProcedure> FindProcedure(const std::string& name) {
  Registry& r = TheRegistry();
  std::lock_guard lock(r.mutex);
  return Newest(r.procedures, name);
}

std::shared_ptr<const RegisteredFunction> FindScalarFunction(const std::string& name) {
  Registry& r = TheRegistry();
  std::lock_guard lock(r.mutex);
  return Newest(r.functions, name);
}

std::vector<std::shared_ptr<const RegisteredFunction>> ScalarFunctions() {
  Registry& r = TheRegistry();
  std::lock_guard lock(r.mutex);
  std::vector<std::shared_ptr<const RegisteredFunction>> visible;
  for (const auto& f : r.functions) {
    const std::string key = Folded(f->name);
    std::erase_if(visible, [&](const auto& v) { return Folded(v->name) == key; });
    visible.push_back(f);
  }
  return visible;
}

uint64_t ScalarFunctionGeneration() { return TheRegistry().function_generation.load(); }

}  // namespace tersify::providers
