#pragma once

#include <libintl.h>

#include <filesystem>
#include <string>

namespace services {

// The gettext catalogue of every text a user reads, in every program of the package.
inline constexpr const char* kTextDomain = "nimbrel";

// `text` in the user's language, or `text` itself when the catalogue has no translation.
// xgettext finds the texts by this name (--keyword=tr).
// The compiler checks a printf-style placeholder of a translated text against the English one.
__attribute__((format_arg(1))) inline const char* tr(const char* text) {
  return dgettext(kTextDomain, text);
}

// Marks a text for translation where it is only named, e.g. in a constant table; tr() turns it
// into the user's language where it is shown (--keyword=trNoop).
__attribute__((format_arg(1))) constexpr const char* trNoop(const char* text) { return text; }

// printf into a string: a message whose pieces a translation may put in another order
// (positional placeholders, %1$s).
__attribute__((format(printf, 1, 2))) std::string formatted(const char* format, ...);

// How much of the user's locale a program takes from the environment.
enum class LocaleUse {
  // The language of messages only, in UTF-8: numbers are still written and read as "0.5",
  // whatever the user's country (the saver, the renderer, the store's files).
  messages,
  // Everything, as GTK's own set-up takes it anyway.
  whole,
};

// Once, at the start of main: takes the user's locale as `use` says and reads our catalogues
// from `localeDir` (<localeDir>/<language>/LC_MESSAGES/nimbrel.mo), as UTF-8.
void initTranslations(const std::filesystem::path& localeDir, LocaleUse use);

}  // namespace services
