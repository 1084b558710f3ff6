#pragma once

#include <gtk/gtk.h>

#include <string>
#include <vector>

namespace nimbrel::settings {

// A window's interface file (a GtkBuilder file found among the resource directories) and the
// objects looked up in it by id. Every lookup that fails, and the file itself when it cannot be
// found, read or parsed whole, leaves a problem that names the id and the file.
class UiFile {
 public:
  explicit UiFile(const std::string& name);
  ~UiFile();
  UiFile(const UiFile&) = delete;
  UiFile& operator=(const UiFile&) = delete;

  bool loaded() const { return builder_ != nullptr; }
  // The file found, or the name looked for when none was.
  const std::string& file() const { return file_; }

  // The object of that id if it is a `type`, else nothing and a problem. The builder's
  // reference: the caller takes one of its own to keep the object beyond this file.
  GObject* object(const char* id, GType type);
  template <typename T>
  T* get(const char* id, GType type) {
    return reinterpret_cast<T*>(object(id, type));
  }

  const std::vector<std::string>& problems() const { return problems_; }

 private:
  std::string file_;
  GtkBuilder* builder_ = nullptr;
  std::vector<std::string> problems_;
};

}  // namespace nimbrel::settings
