// The web backend: Kelp in a browser page, the program on a worker thread of its own.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "platform/ui/Desktop.h"

namespace kelp {

/// The program runs on a worker thread, where its loops (modal ones too) may wait for
/// input; the page's thread hands it keys, characters, pointer events and files picked
/// with Open, and once an animation frame copies the last presented screen to its
/// <canvas>. The page calls the kelp_web_* functions of WebBackend.cpp.
class WebBackend : public Backend {
 public:
  WebBackend(int width, int height);
  ~WebBackend() override;

  uint64_t now() const override;
  bool waitInput(Desktop& desktop, uint64_t deadline) override;
  void present(const FrameBuffer& screen, const Rect& dirty) override;

  /// What a file the page put in the file system does: Kelp opens it.
  void setOpenHandler(std::function<void(const std::u16string& path)> handler) { m_open = std::move(handler); }

 private:
  std::function<void(const std::u16string&)> m_open;
};

}  // namespace kelp
