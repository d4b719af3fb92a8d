#include "framework/rtl/object.h"

#include <cxxabi.h>

#include <cstdlib>
#include <memory>
#include <typeinfo>

namespace tersify {

std::string TObject::ClassName() const {
  const char* mangled = typeid(*this).name();
  int status = 0;
  std::unique_ptr<char, decltype(&std::free)> demangled(
      abi::__cxa_demangle(mangled, nullptr, nullptr, &status), &std::free);
  std::string name = (status == 0 && demangled) ? demangled.get() : mangled;
  // Drop namespaces and template arguments: "tersify::TvrDataset" -> "TvrDataset".
  if (auto angle = name.find('<'); angle != std::string::npos) name.erase(angle);
  if (auto colon = name.rfind("::"); colon != std::string::npos) name.erase(0, colon + 2);
  return name;
}

}  // namespace tersify
