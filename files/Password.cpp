// The workbook password check value and the password prompt loop.
#include "files/Password.h"

#include "model/Workbook.h"
#include "platform/ErrorState.h"

namespace kelp {

uint32_t passwordHash(std::u16string_view password) {
  uint32_t hash = 0;
  for (size_t i = 0; i < password.size(); ++i) hash += static_cast<uint32_t>(password[i]) * static_cast<uint32_t>(i + 1);
  return hash;
}

bool setWorkbookPassword(Workbook& workbook, std::u16string_view password) {
  if (password.size() > MaxPasswordLength) return false;
  workbook.password = password;
  workbook.passwordHash = passwordHash(password);
  return true;
}

bool CheckPassword(Workbook& workbook, const PasswordPrompt& prompt, const PasswordFits& fits) {
  if (!prompt) return false;
  uint32_t error = 0;
  for (;;) {
    std::u16string entered;
    if (!prompt(entered, error)) return false;
    if (passwordHash(entered) == workbook.passwordHash && (!fits || fits(entered))) {
      workbook.password = entered;
      return true;
    }
    error = static_cast<uint32_t>(Err::WrongPassword);
  }
}

}  // namespace kelp
