#pragma once
// The application object: the owner of the program's top-level components (the
// default database, the main window). One per process, made by the program's
// main and released at the end of the process after the layer has shut down.

#include "framework/rtl/component.h"

namespace tersify {

class TApplication : public TComponent {
 public:
  TApplication() : TComponent(nullptr) {}
};

// The process's application object; nullptr before CreateApplication and after
// its release.
extern TApplication* Application;

// Makes the application object and arranges its release at the end of the
// process (also when the process ends with an exit code): functions registered
// with std::atexit after this call run before the release.
void CreateApplication();

}  // namespace tersify
