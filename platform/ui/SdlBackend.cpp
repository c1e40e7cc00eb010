// The SDL2 backend: a scaled window, keyboard and mouse input mapped to the device's keys.
#include "platform/ui/SdlBackend.h"

#include <SDL.h>

#include <cmath>
#include <vector>

#include "platform/Clipboard.h"
#include "platform/Text.h"

namespace kelp {

namespace {

Key keyFromSdl(SDL_Keycode sym) {
  switch (sym) {
    case SDLK_UP: return Key::Up;
    case SDLK_DOWN: return Key::Down;
    case SDLK_LEFT: return Key::Left;
    case SDLK_RIGHT: return Key::Right;
    case SDLK_RETURN:
    case SDLK_KP_ENTER: return Key::Enter;
    case SDLK_BACKSPACE: return Key::Back;
    case SDLK_F1: return Key::Soft1;
    case SDLK_F3: return Key::Soft2;
    case SDLK_F2: return Key::F2;
    case SDLK_TAB: return Key::Tab;
    case SDLK_HOME: return Key::Home;
    case SDLK_END: return Key::End;
    case SDLK_PAGEUP: return Key::PageUp;
    case SDLK_PAGEDOWN: return Key::PageDown;
    case SDLK_ESCAPE: return Key::Escape;
    case SDLK_DELETE: return Key::Delete;
    // F1 is the left soft key already; F4 sits beside the keys the handheld has.
    case SDLK_HELP:
    case SDLK_F4: return Key::Help;
    default: return Key::None;
  }
}

// SDL's clipboard holds text only, and SDL2 takes it finished, so Kelp's text goes over
// when its data is put on the clipboard.
class SdlTextClipboard : public SystemTextClipboard {
 public:
  bool setText(const std::u16string& text) override { return SDL_SetClipboardText(utf16ToUtf8(text).c_str()) == 0; }
  bool getText(std::u16string& out) override {
    if (!SDL_HasClipboardText()) return false;
    char* text = SDL_GetClipboardText();
    if (!text) return false;
    out = utf8ToUtf16(text);
    SDL_free(text);
    return true;
  }
};

class SdlBackend : public Backend {
 public:
  ~SdlBackend() override {
    if (m_clipboardInstalled) installSystemTextClipboard(nullptr);
    if (m_texture) SDL_DestroyTexture(m_texture);
    if (m_renderer) SDL_DestroyRenderer(m_renderer);
    if (m_window) SDL_DestroyWindow(m_window);
    if (m_started) SDL_Quit();
  }

  bool open(int width, int height, int scale, std::string* whyNot) {
    auto fail = [&] {
      if (whyNot) *whyNot = SDL_GetError();
      return false;
    };
    // The end of the user's session is Kelp's to handle (it keeps unsaved work); SDL would
    // turn it into a close request, which asks.
    SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
    if (SDL_Init(SDL_INIT_VIDEO | SDL_INIT_TIMER) != 0) return fail();
    m_started = true;
    m_scale = scale < 1 ? 1 : scale;
    m_window = SDL_CreateWindow("Kelp", SDL_WINDOWPOS_CENTERED, SDL_WINDOWPOS_CENTERED, width * m_scale,
                                height * m_scale, 0);
    if (!m_window) return fail();
    m_renderer = SDL_CreateRenderer(m_window, -1, 0);
    if (!m_renderer) return fail();
    m_texture = SDL_CreateTexture(m_renderer, SDL_PIXELFORMAT_RGB888, SDL_TEXTUREACCESS_STREAMING, width, height);
    if (!m_texture) return fail();
    SDL_StartTextInput();
    installSystemTextClipboard(&m_clipboard);
    m_clipboardInstalled = true;
    return true;
  }

  uint64_t now() const override { return SDL_GetTicks64(); }

  bool waitInput(Desktop& desktop, uint64_t deadline) override {
    uint64_t time = now();
    if (deadline <= time) return true;
    // Short waits let idle work (the single-instance socket) run a few times a second.
    int timeout = static_cast<int>(std::min<uint64_t>(deadline - time, 50));
    SDL_Event event;
    if (SDL_WaitEventTimeout(&event, timeout)) {
      handle(desktop, event);
      while (SDL_PollEvent(&event)) handle(desktop, event);
    }
    return true;
  }

  void setTitle(std::u16string_view title) override {
    if (m_window) SDL_SetWindowTitle(m_window, utf16ToUtf8(title).c_str());
  }

  void present(const FrameBuffer& screen, const Rect&) override {
    SDL_UpdateTexture(m_texture, nullptr, screen.pixels.data(), screen.width * 4);
    SDL_RenderClear(m_renderer);
    SDL_RenderCopy(m_renderer, m_texture, nullptr, nullptr);
    SDL_RenderPresent(m_renderer);
  }

 private:
  void handle(Desktop& desktop, const SDL_Event& event) {
    switch (event.type) {
      case SDL_KEYDOWN: {
        // Ctrl with a letter arrives as its control character (Ctrl+Z is 0x1A), as on a desktop.
        const SDL_Keycode sym = event.key.keysym.sym;
        if ((event.key.keysym.mod & KMOD_CTRL) && sym >= SDLK_a && sym <= SDLK_z) {
          const char16_t control = static_cast<char16_t>(sym - SDLK_a + 1);
          desktop.typeText(std::u16string_view(&control, 1));
          return;
        }
        Key key = keyFromSdl(event.key.keysym.sym);
        if (key == Key::None) return;
        SDL_Keymod mod = static_cast<SDL_Keymod>(event.key.keysym.mod);
        int64_t mods = (mod & KMOD_SHIFT ? KeyMod::Shift : 0) | (mod & KMOD_CTRL ? KeyMod::Ctrl : 0) |
                       (mod & KMOD_ALT ? KeyMod::Alt : 0);
        desktop.pressKey(key, mods);
        return;
      }
      case SDL_TEXTINPUT:
        desktop.typeText(utf8ToUtf16(event.text.text));
        return;
      case SDL_MOUSEBUTTONDOWN:
        if (event.button.button == SDL_BUTTON_LEFT) desktop.pointerDown({event.button.x / m_scale, event.button.y / m_scale});
        return;
      case SDL_MOUSEMOTION:
        if (event.motion.state & SDL_BUTTON_LMASK) desktop.pointerMove({event.motion.x / m_scale, event.motion.y / m_scale});
        return;
      case SDL_MOUSEBUTTONUP:
        if (event.button.button == SDL_BUTTON_LEFT) desktop.pointerUp({event.button.x / m_scale, event.button.y / m_scale});
        return;
      case SDL_MOUSEWHEEL: {
        int x = 0, y = 0;
        SDL_GetMouseState(&x, &y);
        desktop.wheel({x / m_scale, y / m_scale}, event.wheel.y);
        return;
      }
      case SDL_WINDOWEVENT:
        if (event.window.event == SDL_WINDOWEVENT_EXPOSED) present(desktop.screen(), desktop.screen().bounds());
        return;
      case SDL_QUIT:
        desktop.requestClose();
        return;
      default:
        return;
    }
  }

  SDL_Window* m_window = nullptr;
  SDL_Renderer* m_renderer = nullptr;
  SDL_Texture* m_texture = nullptr;
  SdlTextClipboard m_clipboard;
  bool m_clipboardInstalled = false;
  bool m_started = false;
  int m_scale = 1;
};

}  // namespace

std::unique_ptr<Backend> createSdlBackend(int width, int height, int scale, std::string* whyNot) {
  auto backend = std::make_unique<SdlBackend>();
  if (!backend->open(width, height, scale, whyNot)) return nullptr;
  return backend;
}

bool haveSdlBackend() { return true; }

namespace {

// One audio device for the program's sounds, opened for the first sound in the format
// that sound has, and opened again when another format comes.
SDL_AudioDeviceID g_audio = 0;
SDL_AudioSpec g_audioSpec{};

bool audioFor(const SDL_AudioSpec& wanted) {
  if (g_audio && wanted.freq == g_audioSpec.freq && wanted.format == g_audioSpec.format &&
      wanted.channels == g_audioSpec.channels) {
    SDL_ClearQueuedAudio(g_audio);
    return true;
  }
  if (g_audio) SDL_CloseAudioDevice(g_audio);
  g_audio = 0;
  if (!SDL_WasInit(SDL_INIT_AUDIO) && SDL_InitSubSystem(SDL_INIT_AUDIO) != 0) return false;
  SDL_AudioSpec spec = wanted;
  spec.callback = nullptr;  // queued, so that nothing runs on the audio thread of ours
  g_audio = SDL_OpenAudioDevice(nullptr, 0, &spec, &g_audioSpec, 0);
  return g_audio != 0;
}

}  // namespace

bool playWaveFile(const std::string& path) {
  SDL_AudioSpec spec{};
  Uint8* samples = nullptr;
  Uint32 length = 0;
  if (!SDL_LoadWAV(path.c_str(), &spec, &samples, &length)) return false;
  const bool ok = audioFor(spec) && SDL_QueueAudio(g_audio, samples, length) == 0;
  SDL_FreeWAV(samples);
  if (ok) SDL_PauseAudioDevice(g_audio, 0);
  return ok;
}

bool playSystemSound(int type) {
  // A tenth of a second of a tone, higher for the sounds that warn.
  SDL_AudioSpec spec{};
  spec.freq = 22050;
  spec.format = AUDIO_S16SYS;
  spec.channels = 1;
  spec.samples = 1024;
  if (!audioFor(spec)) return false;
  const double pitch = type == 0x10 || type == 0x30 ? 1320.0 : 880.0;
  std::vector<Sint16> tone(static_cast<size_t>(spec.freq / 10));
  for (size_t i = 0; i < tone.size(); ++i)
    tone[i] = static_cast<Sint16>(8000 * std::sin(6.283185307179586 * pitch * double(i) / spec.freq));
  if (SDL_QueueAudio(g_audio, tone.data(), static_cast<Uint32>(tone.size() * sizeof(Sint16))) != 0) return false;
  SDL_PauseAudioDevice(g_audio, 0);
  return true;
}

void stopSound() {
  if (g_audio) SDL_ClearQueuedAudio(g_audio);
}

}  // namespace kelp
