#pragma once
// The root of the framework's classes.

#include <string>

namespace tersify {

class TObject {
 public:
  virtual ~TObject() = default;

  // The class name of the object's dynamic type, without namespaces
  // ("TvrDataset" for a dataset of the layer).
  std::string ClassName() const;
};

}  // namespace tersify
