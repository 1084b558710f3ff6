// nimbrel_sheet_probe: the GTK sheet toolkit with a real view, for the integration tests. Needs
// a display.
//   damaged PREFS_UI DIR  writes every damaged copy of PREFS_UI into DIR in turn and checks that
//                         each is refused, with a reason naming the object and the file, and
//                         leaves no window behind
//   opens N               opens the sheet N times, ending it with Cancel, OK and the window's
//                         close button in turn, and checks that each ending is reported as
//                         dismissed, confirmed and dismissed, that only the last sheet is still
//                         alive, and none once the view is gone
// Prints one line per finding; exits 0 when every check held, 1 otherwise.
#include <gtk/gtk.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "hosts/core/ResourceLookup.h"
#include "sheet/gtk/GtkSheet.h"
#include "sources/NimbrelView.h"
#include "tests/unit/UiVariants.h"

using namespace nimbrel;
using graphics::Rect;
using sheet::SheetOutcome;
using sheet::SheetWindow;

namespace {

constexpr Rect kFrame{0.0f, 0.0f, 160.0f, 120.0f};

int toplevelCount() {
  GListModel* toplevels = gtk_window_get_toplevels();
  return static_cast<int>(g_list_model_get_n_items(toplevels));
}

void settle() {
  while (g_main_context_pending(nullptr)) g_main_context_iteration(nullptr, false);
}

int damaged(sheet::GtkSheetToolkit& toolkit, const std::string& prefsUi, const std::string& dir) {
  const std::string original = uivariants::readText(prefsUi);
  const std::string file = dir + "/Prefs.ui";
  toolkit.setResourceDirectories({dir});

  std::vector<uivariants::Damage> damages = uivariants::damagedSheets(original);
  damages.push_back({"whole", original, ""});

  int failures = 0;
  for (const uivariants::Damage& d : damages) {
    uivariants::writeText(file, d.xml);
    auto view = NimbrelView::initWithFrame(kFrame, true);
    SheetWindow* sheet = view->configureSheet();
    const std::string& why = view->sheetProblem();
    bool ok;
    if (d.what == "whole") {
      ok = sheet != nullptr && why.empty() && toplevelCount() == 1;
    } else {
      ok = sheet == nullptr && why.find(file) != std::string::npos &&
           why.find(d.named) != std::string::npos && toplevelCount() == 0 &&
           (!d.named.empty() || why.find("no object") == std::string::npos);
    }
    std::printf("%s %s: %s\n", ok ? "ok" : "FAIL", d.what.c_str(), sheet ? "loaded" : why.c_str());
    failures += ok ? 0 : 1;
    view.reset();
    settle();
  }
  return failures == 0 ? 0 : 1;
}

int opens(sheet::GtkSheetToolkit& toolkit, int count) {
  auto view = NimbrelView::initWithFrame(kFrame, true);
  // Shown as the settings window shows it: modal, on a window of its own.
  GtkWindow* host = GTK_WINDOW(gtk_window_new());
  gtk_window_present(host);
  bool ended = false;
  SheetOutcome outcome = SheetOutcome::dismissed;
  toolkit.setSheetEndedHandler([&](SheetWindow*, SheetOutcome how) {
    ended = true;
    outcome = how;
  });
  int misreported = 0;
  // Cleared by GLib when the window they point at is finalised.
  std::vector<gpointer> windows(static_cast<size_t>(count), nullptr);
  for (int i = 0; i < count; ++i) {
    GtkWindow* window = sheet::GtkSheetToolkit::gtkWindow(view->configureSheet());
    if (!window) {
      std::printf("FAIL opening %d: %s\n", i, view->sheetProblem().c_str());
      return 1;
    }
    windows[static_cast<size_t>(i)] = window;
    g_object_add_weak_pointer(G_OBJECT(window), &windows[static_cast<size_t>(i)]);
    gtk_window_set_transient_for(window, host);
    gtk_window_set_modal(window, true);
    gtk_window_present(window);
    ended = false;
    const int way = i % 3;
    if (way == 2) {
      gtk_window_close(window);
    } else {
      g_signal_emit_by_name(
          sheet::GtkSheetToolkit::gtkObject(way == 0 ? view->cancelButton : view->okButton),
          "clicked");
    }
    while (!ended) g_main_context_iteration(nullptr, true);
    const SheetOutcome expected = way == 1 ? SheetOutcome::confirmed : SheetOutcome::dismissed;
    if (outcome != expected) {
      std::printf("FAIL opening %d: ended by %s, reported %s\n", i,
                  way == 0   ? "Cancel"
                  : way == 1 ? "OK"
                             : "the close button",
                  outcome == SheetOutcome::confirmed ? "confirmed" : "dismissed");
      ++misreported;
    }
  }
  settle();
  auto alive = [&] {
    int n = 0;
    for (gpointer w : windows) n += w != nullptr;
    return n;
  };
  const int sheets = alive();
  const int loads = sheet::GtkSheetToolkit::liveLoads();
  view.reset();
  settle();
  const int sheetsAfter = alive();
  const int loadsAfter = sheet::GtkSheetToolkit::liveLoads();
  const bool ok =
      sheets <= 1 && loads == 1 && sheetsAfter == 0 && loadsAfter == 0 && misreported == 0;
  std::printf(
      "%s after %d openings: %d sheet windows and %d loads alive; %d and %d once the "
      "view is gone\n",
      ok ? "ok" : "FAIL", count, sheets, loads, sheetsAfter, loadsAfter);
  for (gpointer& w : windows) {
    if (w) g_object_remove_weak_pointer(G_OBJECT(w), &w);
  }
  gtk_window_destroy(host);
  return ok ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string mode = argc > 1 ? argv[1] : "";
  if (!((mode == "damaged" && argc == 4) || (mode == "opens" && argc == 3))) {
    std::fprintf(stderr, "usage: %s damaged PREFS_UI DIR | opens N\n", argv[0]);
    return 2;
  }
  if (!gtk_init_check()) {
    std::fprintf(stderr, "%s: cannot open a display\n", argv[0]);
    return 2;
  }
  sheet::GtkSheetToolkit toolkit;
  toolkit.setResourceDirectories(nimbrel::host::resourceDirectories());
  sheet::setSheetToolkit(&toolkit);
  const int status =
      mode == "damaged" ? damaged(toolkit, argv[2], argv[3]) : opens(toolkit, std::atoi(argv[2]));
  sheet::setSheetToolkit(nullptr);
  return status;
}
