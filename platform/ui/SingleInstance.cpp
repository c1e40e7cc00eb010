// The single-instance socket: claiming, stale-socket recovery, sending and receiving messages.
#include "platform/ui/SingleInstance.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "platform/ui/Desktop.h"

namespace kelp {

namespace {

// A sender that stalls cannot hold the running instance for longer than this.
constexpr int ReceiveTimeoutMs = 1000;
constexpr uint32_t MaxMessageBytes = 1u << 20;

bool makeAddress(const std::string& path, sockaddr_un& address) {
  std::memset(&address, 0, sizeof address);
  address.sun_family = AF_UNIX;
  if (path.empty() || path.size() >= sizeof address.sun_path) return false;
  std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
  return true;
}

bool writeAll(int fd, const uint8_t* data, size_t size) {
  while (size > 0) {
    ssize_t n = send(fd, data, size, MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    data += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

// Reads exactly `size` bytes; false at the end of the stream, on error or after the timeout.
bool readAll(int fd, uint8_t* data, size_t size, bool& atEnd, int timeoutMs = ReceiveTimeoutMs) {
  atEnd = false;
  size_t got = 0;
  while (got < size) {
    pollfd p{fd, POLLIN, 0};
    int ready = ::poll(&p, 1, timeoutMs);
    if (ready < 0 && errno == EINTR) continue;
    if (ready <= 0) return false;
    ssize_t n = recv(fd, data + got, size - got, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n == 0) atEnd = got == 0;
    if (n <= 0) return false;
    got += static_cast<size_t>(n);
  }
  return true;
}

uint32_t readU32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 | static_cast<uint32_t>(p[2]) << 16 |
         static_cast<uint32_t>(p[3]) << 24;
}

void putU32(std::vector<uint8_t>& out, uint32_t v) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

}  // namespace

SingleInstance::SingleInstance(std::string socketPath, int answerWaitMs)
    : m_path(std::move(socketPath)), m_answerWaitMs(answerWaitMs) {}

SingleInstance::~SingleInstance() {
  if (m_listen >= 0) {
    close(m_listen);
    unlink(m_path.c_str());
  }
}

std::string SingleInstance::defaultSocketPath() {
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  if (runtime && runtime[0] == '/') return std::string(runtime) + "/kelp.sock";
  std::string folder = "/tmp/kelp-" + std::to_string(getuid());
  if (mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) return "";
  // The folder sits in a shared place: use it only when it is ours, a real folder and
  // closed to others, so no one else can plant a socket for us to talk to.
  struct stat st;
  if (lstat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != getuid() || (st.st_mode & 077) != 0) {
    return "";
  }
  return folder + "/kelp.sock";
}

bool SingleInstance::claim() {
#ifdef __EMSCRIPTEN__
  // A page is an instance of its own: the browser has no socket another page could reach.
  return true;
#endif
  if (m_listen >= 0) return true;
  sockaddr_un address;
  if (!makeAddress(m_path, address)) return true;
  for (int attempt = 0; attempt < 2; ++attempt) {
    int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) return true;
    if (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 && listen(fd, 8) == 0) {
      m_listen = fd;
      return true;
    }
    int err = errno;
    close(fd);
    if (err != EADDRINUSE) return true;
    // Someone holds the name: a live instance answers a connection, a dead one's file does not.
    int probe = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (probe < 0) return true;
    bool alive = connect(probe, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    close(probe);
    if (alive) return false;
    unlink(m_path.c_str());
  }
  return true;
}

Delivery SingleInstance::sendToFirst(const std::vector<CopyData>& messages) const {
  sockaddr_un address;
  if (!makeAddress(m_path, address)) return Delivery::NoInstance;
  int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return Delivery::NoInstance;
  if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    close(fd);
    return Delivery::NoInstance;
  }
  std::vector<uint8_t> out;
  for (const CopyData& m : messages) {
    putU32(out, m.code);
    putU32(out, static_cast<uint32_t>(m.bytes.size()));
    out.insert(out.end(), m.bytes.begin(), m.bytes.end());
  }
  // The connection is queued by the system even while the first is busy; only its
  // answer, sent once it has polled, says the messages arrived.
  Delivery result = Delivery::NoAnswer;
  if (writeAll(fd, out.data(), out.size()) && shutdown(fd, SHUT_WR) == 0) {
    uint8_t answer = 0;
    bool atEnd = false;
    const int rounds = std::max(1, (m_answerWaitMs + ReceiveTimeoutMs - 1) / ReceiveTimeoutMs);
    for (int waited = 0; waited < rounds; ++waited) {
      if (readAll(fd, &answer, 1, atEnd, std::min(ReceiveTimeoutMs, std::max(1, m_answerWaitMs)))) {
        result = answer == 'K' ? Delivery::Delivered : Delivery::NoAnswer;
        break;
      }
      // Closed without an answer: the first ended on the way.
      if (atEnd) {
        result = Delivery::NoInstance;
        break;
      }
    }
  }
  close(fd);
  return result;
}

void SingleInstance::attach(Desktop& desktop, WindowId target) {
  m_desktop = &desktop;
  m_target = target;
  desktop.addIdleHook([this] { poll(); });
}

int SingleInstance::poll() {
  if (m_listen < 0) return 0;
  int posted = 0;
  for (;;) {
    int client = accept4(m_listen, nullptr, nullptr, SOCK_CLOEXEC);
    if (client < 0) {
      if (errno == EINTR) continue;
      break;
    }
    std::vector<CopyData> received;
    bool complete = false;
    for (;;) {
      uint8_t header[8];
      bool atEnd = false;
      if (!readAll(client, header, sizeof header, atEnd)) {
        complete = atEnd;
        break;
      }
      CopyData m;
      m.code = readU32(header);
      uint32_t length = readU32(header + 4);
      if (length > MaxMessageBytes) break;
      m.bytes.resize(length);
      if (length > 0 && !readAll(client, m.bytes.data(), length, atEnd)) break;
      received.push_back(std::move(m));
    }
    // A sender that broke off half-way passes nothing, so a cut path is never opened; one
    // that stopped waiting for the answer told its user Kelp was busy, so it passes nothing either.
    uint8_t answer = 'K';
    if (complete && writeAll(client, &answer, 1)) {
      for (CopyData& m : received) {
        if (m_desktop) m_desktop->post(m_target, Msg::CopyData, m.code, 0, std::move(m.bytes));
        ++posted;
      }
    }
    close(client);
  }
  return posted;
}

}  // namespace kelp
