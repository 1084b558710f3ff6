#pragma once

// Damaged copies of an interface file, for the GTK probe of the integration tests that checks a
// sheet is refused whole: every <object> with an id removed in turn (with everything inside it)
// and the file cut in half.

#include <cstddef>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace uivariants {

inline std::string readText(const std::string& path) {
  std::ifstream in(path);
  return std::string(std::istreambuf_iterator<char>(in), {});
}
inline void writeText(const std::string& path, const std::string& text) {
  std::ofstream(path, std::ios::trunc) << text;
}

// The ids of the file's objects, in file order.
inline std::vector<std::string> objectIds(const std::string& xml) {
  std::vector<std::string> ids;
  for (size_t at = xml.find("<object "); at != std::string::npos;
       at = xml.find("<object ", at + 1)) {
    const size_t end = xml.find('>', at);
    const size_t id = xml.find(" id=\"", at);
    if (id == std::string::npos || id > end) continue;
    const size_t from = id + 5;
    ids.push_back(xml.substr(from, xml.find('"', from) - from));
  }
  return ids;
}

// The file without the object of that id: from its <object ...> to the matching </object>.
inline std::string withoutObject(const std::string& xml, const std::string& id) {
  const size_t idAt = xml.find(" id=\"" + id + "\"");
  if (idAt == std::string::npos) return xml;
  const size_t start = xml.rfind("<object ", idAt);
  int depth = 0;
  size_t at = start;
  while (true) {
    const size_t open = xml.find("<object ", at + 1);
    const size_t close = xml.find("</object>", at + 1);
    if (close == std::string::npos) return xml;
    if (open != std::string::npos && open < close) {
      ++depth;
      at = open;
    } else if (depth > 0) {
      --depth;
      at = close;
    } else {
      return xml.substr(0, start) + xml.substr(close + 9);
    }
  }
}

// The file with the class of the object of that id replaced.
inline std::string withClass(const std::string& xml, const std::string& id,
                             const std::string& cls) {
  const size_t idAt = xml.find(" id=\"" + id + "\"");
  const size_t start = xml.rfind("<object ", idAt);
  return xml.substr(0, start) + "<object class=\"" + cls + "\"" + xml.substr(idAt);
}

inline std::string firstHalf(const std::string& xml) { return xml.substr(0, xml.size() / 2); }

// A damaged copy of the options sheet, and what the reason for refusing it must name (nothing
// for the copy cut in half, refused for not parsing before any object is looked for).
struct Damage {
  std::string what, xml, named;
};

// Every object removed in turn, a check button of the wrong class, a theme missing from the
// menu, and the file cut in half.
inline std::vector<Damage> damagedSheets(const std::string& original) {
  std::vector<Damage> damages;
  for (const std::string& id : objectIds(original)) {
    damages.push_back({"without " + id, withoutObject(original, id), id});
  }
  damages.push_back({"starsButton as a push button",
                     withClass(original, "starsButton", "GtkButton"),
                     "\"starsButton\" is a GtkButton, not a check button"});
  std::string eightItems = original;
  const std::string last = "<item translatable=\"yes\">Cool muted</item>";
  eightItems.erase(eightItems.find(last), last.size());
  damages.push_back({"a theme short", eightItems, "\"colorThemePopUpButton\" has 8 items, not 9"});
  damages.push_back({"cut in half", firstHalf(original), ""});
  return damages;
}

}  // namespace uivariants
