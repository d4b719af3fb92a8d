#include "log/debug_output.h"

#include <atomic>
#include <cstdio>
#include <fstream>
#include <iterator>

#include "framework/rtl/platform.h"

namespace tersify {
namespace {

// The process's arguments after the program name, as the kernel keeps them.
std::vector<std::string> ProcessArguments() {
  std::ifstream in("/proc/self/cmdline", std::ios::binary);
  std::string all((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::vector<std::string> args;
  size_t start = 0;
  while (start < all.size()) {
    size_t end = all.find('\0', start);
    if (end == std::string::npos) end = all.size();
    args.push_back(all.substr(start, end - start));
    start = end + 1;
  }
  if (!args.empty()) args.erase(args.begin());
  return args;
}

bool SwitchOnCommandLine() {
  static const bool present = FindCmdLineSwitch(ProcessArguments(), "WINDBG");
  return present;
}

// -1: follow the command line; 0 / 1: overridden.
std::atomic<int> override_value{-1};

}  // namespace

bool FindCmdLineSwitch(const std::vector<std::string>& args, const std::string& name) {
  for (const std::string& arg : args) {
    if (arg.size() != name.size() + 1 || (arg[0] != '-' && arg[0] != '/')) continue;
    if (UpperCase(arg.substr(1)) == UpperCase(name)) return true;
  }
  return false;
}

bool WindbgSwitch() {
  int value = override_value.load();
  return value < 0 ? SwitchOnCommandLine() : value != 0;
}

void OverrideWindbgSwitch(std::optional<bool> value) { override_value = value ? (*value ? 1 : 0) : -1; }

void OutputDebugString(const std::string& text) {
  // One write per line, so lines from several threads do not interleave.
  std::string line = text + "\n";
  std::fwrite(line.data(), 1, line.size(), stderr);
  std::fflush(stderr);
}

}  // namespace tersify
