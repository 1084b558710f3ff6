#include "services/Translate.h"

#include <clocale>
#include <cstdarg>
#include <cstdio>

namespace services {

void initTranslations(const std::filesystem::path& localeDir, LocaleUse use) {
  // LC_CTYPE stays "C" in the saver too: SDL names its X11 windows in the locale's encoding, and a
  // window named in UTF-8 is one that tools running in the C locale (xdotool) no longer find.
  std::setlocale(use == LocaleUse::whole ? LC_ALL : LC_MESSAGES, "");
  bindtextdomain(kTextDomain, localeDir.c_str());
  bind_textdomain_codeset(kTextDomain, "UTF-8");
  // The C library's own texts (strerror) in UTF-8 as well, whatever LC_CTYPE is.
  bind_textdomain_codeset("libc", "UTF-8");
  textdomain(kTextDomain);
}

std::string formatted(const char* format, ...) {
  va_list args;
  va_start(args, format);
  va_list again;
  va_copy(again, args);
  const int length = std::vsnprintf(nullptr, 0, format, args);
  va_end(args);
  std::string text(length > 0 ? static_cast<size_t>(length) : 0, '\0');
  if (length > 0) std::vsnprintf(text.data(), text.size() + 1, format, again);
  va_end(again);
  return text;
}

}  // namespace services
