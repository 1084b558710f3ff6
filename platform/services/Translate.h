#pragma once

#include <libintl.h>

namespace services {

// The gettext catalogue of every text a user reads, in every program of the package.
inline constexpr const char* kTextDomain = "nimbrel";

// `text` in the user's language, or `text` itself when the catalogue has no translation.
// xgettext finds the texts by this name (--keyword=tr).
inline const char* tr(const char* text) { return dgettext(kTextDomain, text); }

// Marks a text for translation where it is only named, e.g. in a constant table; tr() turns it
// into the user's language where it is shown (--keyword=trNoop).
constexpr const char* trNoop(const char* text) { return text; }

}  // namespace services
