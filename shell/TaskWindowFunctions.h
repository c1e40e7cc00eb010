// The task functions that need the window: message, question, input, list and file
// boxes, list rules, the Find dialog, and starting programs and the browser, each start
// asked for every time.
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace kelp {

class Application;

/// Binds the window's task functions to `app` (null unbinds: they then give !!NA).
void installWindowTaskFunctions(Application* app);

/// What RunApp and IBrowser start once the user agreed: the program and its arguments,
/// one word each. Without one, a real display starts them and a headless session only
/// writes them on standard error and answers false.
using TaskLauncher = std::function<bool(const std::vector<std::u16string>& words)>;
void installTaskLauncher(TaskLauncher launcher);

/// The question RunApp and IBrowser ask before `words` start (`browser`: the address
/// goes to the browser).
std::u16string startQuestion(const std::vector<std::u16string>& words, bool browser);

}  // namespace kelp
