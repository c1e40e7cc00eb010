// Single-instance detection: the first process listens on a Unix socket, later ones pass it messages.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/ui/Message.h"

namespace kelp {

class Desktop;

struct CopyData {
  uint32_t code = 0;
  std::vector<uint8_t> bytes;
};

/// What became of messages sent to the first process.
enum class Delivery {
  Delivered,   // the first process queued them
  NoInstance,  // nobody listens (the first ended meanwhile)
  NoAnswer,    // the first is there but did not answer in time: it is busy
};

/// The first process to claim the socket is the running instance; a later process finds
/// it there, passes its copy-data messages and ends. The running instance receives them
/// as CopyData messages posted to its target window.
///
/// On the socket each message is a little-endian u32 code, a u32 length and the bytes;
/// the sender closes its side when done and waits for a one-byte answer, sent once
/// everything was queued.
class SingleInstance {
 public:
  /// A sender waits `answerWaitMs` for the first process to take its messages.
  explicit SingleInstance(std::string socketPath = defaultSocketPath(), int answerWaitMs = 10000);
  ~SingleInstance();
  SingleInstance(const SingleInstance&) = delete;
  SingleInstance& operator=(const SingleInstance&) = delete;

  /// $XDG_RUNTIME_DIR/kelp.sock, else /tmp/kelp-UID/kelp.sock in a private folder made
  /// when missing; empty when no safe place exists.
  static std::string defaultSocketPath();

  /// True when this process is the first: it now listens. A socket file left by a
  /// process that ended is replaced. Without a usable path every process is first.
  bool claim();
  bool listening() const { return m_listen >= 0; }

  /// From a later process: delivers `messages` to the first.
  Delivery sendToFirst(const std::vector<CopyData>& messages) const;

  /// Posts what arrives to `target` on `desktop`, polling whenever the loop idles.
  void attach(Desktop& desktop, WindowId target);
  void setTarget(WindowId target) { m_target = target; }
  /// Accepts waiting senders and posts their messages; returns how many were posted.
  int poll();

 private:
  std::string m_path;
  int m_answerWaitMs;
  int m_listen = -1;
  Desktop* m_desktop = nullptr;
  WindowId m_target = NoWindow;
};

}  // namespace kelp
