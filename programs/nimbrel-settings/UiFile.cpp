#include "programs/nimbrel-settings/UiFile.h"

#include <filesystem>

#include "hosts/core/ResourceLookup.h"
#include "services/Translate.h"
#include "sheet/Sheet.h"
#include "sheet/gtk/GtkSheet.h"

namespace nimbrel::settings {

UiFile::UiFile(const std::string& name) : file_(name) {
  const std::filesystem::path path = host::findResourceIn(host::resourceDirectories(), name);
  if (path.empty()) {
    problems_.push_back(services::formatted(
        services::tr("there is no %s in the resource directories"), name.c_str()));
    return;
  }
  file_ = path.string();
  std::string whyNot;
  if (!sheet::GtkSheetToolkit::parsesWhole(file_, whyNot)) {
    problems_.push_back(whyNot);
    return;
  }
  GtkBuilder* builder = gtk_builder_new();
  // Its texts in the user's language, whatever the program's default domain.
  gtk_builder_set_translation_domain(builder, services::kTextDomain);
  GError* error = nullptr;
  if (!gtk_builder_add_from_file(builder, file_.c_str(), &error)) {
    // The builder's messages usually start with the file's name, but not all of them do.
    const std::string message = error->message;
    problems_.push_back(message.starts_with(file_) ? message : file_ + ": " + message);
    g_error_free(error);
    // Windows made before the builder stopped would stay in the toplevel list for ever.
    GSList* objects = gtk_builder_get_objects(builder);
    for (GSList* o = objects; o; o = o->next) {
      if (GTK_IS_WINDOW(o->data)) gtk_window_destroy(GTK_WINDOW(o->data));
    }
    g_slist_free(objects);
    g_object_unref(builder);
    return;
  }
  sheet::GtkSheetToolkit::nameControlsByTheirLabels(builder);
  builder_ = builder;
}

UiFile::~UiFile() {
  if (builder_) g_object_unref(builder_);
}

GObject* UiFile::object(const char* id, GType type) {
  if (!builder_) return nullptr;
  GObject* o = gtk_builder_get_object(builder_, id);
  if (!o) {
    problems_.push_back(services::formatted(services::tr("%s: there is no object with id \"%s\""),
                                            file_.c_str(), id));
    return nullptr;
  }
  if (!g_type_is_a(G_OBJECT_TYPE(o), type)) {
    problems_.push_back(services::formatted(services::tr("%s: the object \"%s\" is a %s, not a %s"),
                                            file_.c_str(), id, G_OBJECT_TYPE_NAME(o),
                                            g_type_name(type)));
    return nullptr;
  }
  return o;
}

}  // namespace nimbrel::settings
