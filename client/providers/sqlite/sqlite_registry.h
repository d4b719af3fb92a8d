#pragma once
// The process-wide registry of stored procedures and scalar functions that the
// sqlite provider offers in place of a server's own. Tests (and the TDS test
// server, from its own thread) register what a database under test would hold;
// registration is thread-safe and scoped: the returned handle unregisters when
// it is destroyed, so one test's objects never leak into the next.
//
// Names are matched ignoring ASCII letter case. A later registration of a name
// hides an earlier one until it is released.

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "client/providers/provider.h"
#include "framework/rtl/variant.h"

namespace tersify::providers {

// The body of a stored procedure: it may run statements on the provider it is
// given, may write output parameters into its arguments (one per declared
// parameter, in order) and may return rows (or nullptr).
using ProcedureBody = std::function<std::unique_ptr<Cursor>(Provider&, std::vector<Variant>&)>;
// A scalar SQL function: its arguments in order, its value.
using ScalarFunctionBody = std::function<Variant(const std::vector<Variant>&)>;

struct RegisteredProcedure {
  std::string name;
  std::vector<ProcParamInfo> params;
  ProcedureBody body;
  int64_t id = 0;  // unique for the process; Object_ID answers with it
};

struct RegisteredFunction {
  std::string name;
  ScalarFunctionBody body;
  int64_t id = 0;
};

// Unregisters its procedure or function when destroyed or released. Movable.
class Registration {
 public:
  Registration() = default;
  explicit Registration(int64_t id) : id_(id) {}
  Registration(Registration&& other) noexcept : id_(other.id_) { other.id_ = 0; }
  Registration& operator=(Registration&& other) noexcept;
  Registration(const Registration&) = delete;
  Registration& operator=(const Registration&) = delete;
  ~Registration() { Release(); }

  // Unregisters now; nothing when already released.
  void Release() noexcept;
  bool Active() const { return id_ != 0; }

 private:
  int64_t id_ = 0;
};

[[nodiscard]] Registration RegisterProcedure(std::string name, std::vector<ProcParamInfo> params,
                                             ProcedureBody body);
// Visible to every connection opened afterwards, and to open connections from
// their next statement on.
[[nodiscard]] Registration RegisterScalarFunction(std::string name, ScalarFunctionBody body);

std::shared_ptr<const RegisteredProcedure> FindProcedure(const std::string& name);
std::shared_ptr<const RegisteredFunction> FindScalarFunction(const std::string& name);
// Every visible function (the latest registration of each name).
std::vector<std::shared_ptr<const RegisteredFunction>> ScalarFunctions();
// Changes whenever a function is registered or released; lets a connection
// notice that its installed functions are out of date.
uint64_t ScalarFunctionGeneration();

}  // namespace tersify::providers
