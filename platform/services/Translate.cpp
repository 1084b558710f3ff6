#include "services/Translate.h"

#include <clocale>
#include <cstdarg>
#include <cstdio>

namespace services {

void initTranslations(const std::filesystem::path& localeDir, LocaleUse use) {
  if (use == LocaleUse::whole) {
    std::setlocale(LC_ALL, "");
  } else {
    std::setlocale(LC_CTYPE, "");
    std::setlocale(LC_MESSAGES, "");
  }
  bindtextdomain(kTextDomain, localeDir.c_str());
  bind_textdomain_codeset(kTextDomain, "UTF-8");
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
