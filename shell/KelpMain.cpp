// The kelp program's run: arguments, single instance, the session and its screenshot.
#include "shell/KelpMain.h"

#include <charconv>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>

#include "edit/Commands.h"
#include "edit/Fit.h"
#include "files/DbaseFile.h"
#include "files/ExternalRefs.h"
#include "files/PocketExcel.h"
#include "files/TextFiles.h"
#include "platform/ErrorState.h"
#include "platform/Registry.h"
#include "platform/System.h"
#include "platform/Text.h"
#include "platform/ui/HeadlessBackend.h"
#include "platform/ui/SdlBackend.h"
#include "platform/ui/SingleInstance.h"
#ifdef __EMSCRIPTEN__
#include "platform/ui/WebBackend.h"
#endif
#include "shell/Application.h"
#include "shell/GridPainter.h"
#include "shell/Settings.h"

namespace kelp {

namespace {

constexpr int MinScreen = 96;
constexpr int MaxScreen = 2000;
constexpr int DesktopScale = 2;

bool parseScreen(std::string_view text, int& width, int& height) {
  size_t x = text.find('x');
  if (x == std::string_view::npos) return false;
  auto number = [](std::string_view digits, int& out) {
    auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), out);
    return !digits.empty() && ec == std::errc() && end == digits.data() + digits.size() && out >= MinScreen &&
           out <= MaxScreen;
  };
  return number(text.substr(0, x), width) && number(text.substr(x + 1), height);
}

std::vector<uint8_t> utf16Bytes(std::u16string_view text) {
  std::vector<uint8_t> bytes;
  for (char16_t c : text) {
    bytes.push_back(static_cast<uint8_t>(c & 0xFF));
    bytes.push_back(static_cast<uint8_t>(c >> 8));
  }
  bytes.push_back(0);
  bytes.push_back(0);
  return bytes;
}

// Runs the loop; `picture`, when set, receives the screen before the window goes. With
// `openError` given, a document that fails to open ends the session at once with its code
// there, and the session is a picture only: it neither offers nor keeps recovery copies.
int runSession(Desktop& desktop, SingleInstance* instance, const std::u16string& path, const std::string& picture,
               bool& pictureWritten, uint32_t* openError = nullptr) {
  Application app(desktop, settingsRegistry());
  if (!app.start(path)) return 0;
  if (openError && app.startError() != 0) {
    *openError = app.startError();
    return 1;
  }
  if (instance && instance->listening()) instance->attach(desktop, app.mainWindow()->id());
#ifdef __EMSCRIPTEN__
  // A file the page's Open put in the file system arrives as a second start's would.
  if (auto* web = dynamic_cast<WebBackend*>(desktop.backend())) {
    web->setOpenHandler([&desktop, main = app.mainWindow()->id()](const std::u16string& file) {
      desktop.post(main, Msg::CopyData, CopyDataCode::OpenFile, 0, utf16Bytes(file));
    });
  }
#endif
  const bool interactive = openError == nullptr;
  if (interactive) {
    // The end of the session cannot wait for answers: the loops end, and the work is kept below.
    desktop.addIdleHook([&desktop] {
      if (int signal = endOfSessionSignal()) desktop.postQuit(128 + signal);
    });
    app.offerRecovery();
  }
  int code = desktop.run();
  if (interactive) {
    const std::string kept = app.keepRecoveryCopy();
    if (!kept.empty()) std::fprintf(stderr, "kelp: unsaved changes kept in %s; the next start offers them\n", kept.c_str());
  }
  if (instance) instance->setTarget(NoWindow);
  if (!picture.empty()) {
    desktop.paintAll();
    pictureWritten = writePng(desktop.screen(), picture);
    if (!pictureWritten) clearError();
  }
  return code;
}

bool haveDisplay() { return environmentHas("DISPLAY") || environmentHas("WAYLAND_DISPLAY"); }

}  // namespace

const char* kelpUsage() {
  return "Usage: kelp [OPTIONS] [FILE]\n"
         "\n"
         "Kelp, the keypad spreadsheet. Opens FILE (or a new workbook) in a phone-sized window.\n"
         "\n"
         "Options:\n"
         "  --screen WxH        the phone screen in pixels (default 240x320)\n"
         "  --headless          run without a display, driven by a key script\n"
         "  --keys SCRIPT       the key script of a headless session\n"
         "  --screenshot OUT    write the screen as a PNG when the headless session ends\n"
         "  --new-instance      start even when Kelp is running already\n"
         "  --help              show this help and exit\n"
         "  --version           show the version and exit\n"
         "\n"
         "A second kelp passes FILE to the one running and exits with 0, or with 1 when the\n"
         "running one is too busy to answer.\n"
         "Without a display, kelp FILE writes a screenshot of the workbook instead (exit code 1\n"
         "when FILE cannot be opened).\n";
}

bool parseKelpArguments(int argc, const char* const* argv, KelpOptions& options, std::string& error) {
  for (int i = 1; i < argc; ++i) {
    std::string_view arg = argv[i];
    auto value = [&](std::string& out) {
      if (i + 1 >= argc) {
        error = std::string(arg) + " needs a value";
        return false;
      }
      out = argv[++i];
      return true;
    };
    if (arg == "--help" || arg == "-h") {
      options.help = true;
    } else if (arg == "--version") {
      options.version = true;
    } else if (arg == "--headless") {
      options.headless = true;
    } else if (arg == "--new-instance") {
      options.newInstance = true;
    } else if (arg == "--keys") {
      if (!value(options.keys)) return false;
    } else if (arg == "--screenshot") {
      if (!value(options.screenshot)) return false;
    } else if (arg == "--screen") {
      std::string size;
      if (!value(size)) return false;
      if (!parseScreen(size, options.width, options.height)) {
        error = "--screen wants WIDTHxHEIGHT, each " + std::to_string(MinScreen) + " to " + std::to_string(MaxScreen);
        return false;
      }
    } else if (arg.size() > 1 && arg[0] == '-') {
      error = "unknown option " + std::string(arg);
      return false;
    } else if (options.file.empty()) {
      options.file = std::string(arg);
    } else {
      error = "only one FILE may be given";
      return false;
    }
  }
  if ((!options.keys.empty() || !options.screenshot.empty()) && !options.headless) {
    error = "--keys and --screenshot belong to --headless sessions";
    return false;
  }
  return true;
}

int runKelp(const KelpOptions& options) {
  static bool engineStarted = false;
  if (!engineStarted) {
    startEditing();
    // Fitting a column measures with the fonts the grid draws with, in pixels of a screen
    // whose standard font has 7-pixel digits, the scale fitting counts widths in.
    installCellTextWidth([](const Workbook& book, int16_t style, std::u16string_view text) {
      const int digit = digitWidth(standardFont(book));
      const int width = textWidth(cellFont(book, style, 100), text);
      return static_cast<int32_t>((width * FallbackDigitWidth + digit - 1) / digit);
    });
    installDbaseFormat();
    installTextFormats();
    installExternalReferences();
    installPocketExcelFormat();
    engineStarted = true;
  }
  // A second process must name the file the same way from any folder; quotes come off
  // first, or they would become part of the absolute path.
  const std::string file = utf16ToUtf8(commandLinePath(utf8ToUtf16(options.file)));
  const std::u16string path = absolutePath(file);

  std::unique_ptr<SingleInstance> instance;
  if (!options.newInstance) {
    instance = std::make_unique<SingleInstance>();
    if (!instance->claim()) {
      std::vector<CopyData> messages{{CopyDataCode::Activate, {}}};
      if (!path.empty()) messages.push_back({CopyDataCode::OpenFile, utf16Bytes(path)});
      const Delivery delivery = instance->sendToFirst(messages);
      if (delivery == Delivery::Delivered) return 0;
      // A first that ended meanwhile leaves its place to this process; a busy one keeps it,
      // since a session of our own would open the file a second time.
      if (delivery == Delivery::NoAnswer || !instance->claim()) {
        std::fprintf(stderr, "kelp: Kelp is running but busy; try again in a moment\n");
        return 1;
      }
    }
  }

  (void)catchEndOfSession();
  if (options.headless) {
    HeadlessBackend backend;
    if (!options.keys.empty() && !backend.loadScript(options.keys)) {
      std::fprintf(stderr, "kelp: cannot read the key script %s\n", options.keys.c_str());
      clearError();
      return 1;
    }
    Desktop desktop(options.width, options.height, &backend);
    bool written = false;
    int code = runSession(desktop, instance.get(), path, options.screenshot, written);
    for (const std::string& problem : backend.problems()) std::fprintf(stderr, "kelp: %s\n", problem.c_str());
    if (!options.screenshot.empty() && !written) {
      std::fprintf(stderr, "kelp: cannot write %s\n", options.screenshot.c_str());
      return 1;
    }
    return code;
  }

#ifdef __EMSCRIPTEN__
  WebBackend web(options.width, options.height);
  Desktop page(options.width, options.height, &web);
  bool none = false;
  return runSession(page, instance.get(), path, {}, none);
#endif
  std::string why;
  std::unique_ptr<Backend> sdl;
  if (haveDisplay()) {
    sdl = createSdlBackend(options.width, options.height, DesktopScale, &why);
  } else {
    why = "neither DISPLAY nor WAYLAND_DISPLAY is set";
  }
  if (!sdl) {
    // No window to show: the opened workbook goes to a picture instead.
    std::filesystem::path folder = temporaryFolder();
    std::string stem = file.empty() ? "new" : std::filesystem::path(file).stem().string();
    std::string out = (folder / ("kelp-" + stem + ".png")).string();
    std::fprintf(stderr, "kelp: no display (%s)\n", why.c_str());
    HeadlessBackend backend;
    Desktop desktop(options.width, options.height, &backend);
    bool written = false;
    uint32_t openError = 0;
    int code = runSession(desktop, nullptr, path, out, written, &openError);
    if (openError != 0) {
      std::fprintf(stderr, "kelp: cannot open %s: %s\n", file.c_str(), utf16ToUtf8(errorMessage(openError)).c_str());
      clearError();
      return 1;
    }
    if (!written) {
      std::fprintf(stderr, "kelp: cannot write %s\n", out.c_str());
      return 1;
    }
    std::fprintf(stderr, "kelp: wrote a screenshot of the workbook to %s\n", out.c_str());
    return code;
  }
  Desktop desktop(options.width, options.height, sdl.get());
  bool unused = false;
  return runSession(desktop, instance.get(), path, {}, unused);
}

}  // namespace kelp
