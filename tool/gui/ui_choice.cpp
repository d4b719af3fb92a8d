#include "tool/gui/ui_choice.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstddef>
#include <cstdlib>
#include <cstring>

#include "tool/console/command_line.h"

namespace tersify::gui {
namespace {

bool IsSet(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr && *value != '\0';
}

struct Socket {
  explicit Socket(int descriptor) : fd(descriptor) {}
  ~Socket() {
    if (fd >= 0) ::close(fd);
  }
  Socket(const Socket&) = delete;
  Socket& operator=(const Socket&) = delete;
  int fd;
};

}  // namespace

bool RunIsInteractive(const std::vector<std::string>& Args) {
  ToolSettings settings;
  ReadArguments(Args, settings);
  // Help, version and refused arguments are answered on the console alone.
  return settings.interactive && !settings.help && !settings.version && ArgumentErrors(settings).empty();
}

bool XDisplayReachable(const std::string& display) {
  // [host]:number[.screen]
  const size_t colon = display.rfind(':');
  if (colon == std::string::npos) return false;
  const std::string host = display.substr(0, colon);
  if (!host.empty() && host != "unix") return true;  // not probed
  std::string number = display.substr(colon + 1);
  number = number.substr(0, number.find('.'));
  if (number.empty() || number.find_first_not_of("0123456789") != std::string::npos) return false;

  const std::string path = "/tmp/.X11-unix/X" + number;
  // Linux X servers listen on the abstract name as well as on the file.
  for (bool abstract : {false, true}) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const size_t offset = abstract ? 1 : 0;
    if (path.size() + offset >= sizeof(address.sun_path)) return false;
    std::memcpy(address.sun_path + offset, path.data(), path.size());
    const auto length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + offset + path.size());
    const Socket probe(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (probe.fd < 0) return false;
    if (::connect(probe.fd, reinterpret_cast<const sockaddr*>(&address), length) == 0) return true;
  }
  return false;
}

bool DisplayAvailable() {
  if (IsSet("QT_QPA_PLATFORM") || IsSet("WAYLAND_DISPLAY")) return true;
  return IsSet("DISPLAY") && XDisplayReachable(std::getenv("DISPLAY"));
}

}  // namespace tersify::gui
