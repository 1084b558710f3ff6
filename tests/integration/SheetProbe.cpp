// nimbrel_sheet_probe PREFS_UI DIR N: the GTK sheet toolkit with a real view, on a display.
// First every damaged copy of PREFS_UI, written into DIR in turn, must be refused with a reason
// naming the object and the file, and leave no window behind; then the sheet is opened N times
// and ended with Cancel, OK and the window's close button in turn: each must be reported as
// dismissed, confirmed and dismissed (the settings window renews its preview on confirmed), and
// only the last sheet may still be alive, none once its view is gone. Prints one line per finding;
// exits 0 when every check held, 1 otherwise.
#include <gtk/gtk.h>

#include <algorithm>
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
  int misreported = 0;
  sheet::SheetOutcome expected{};
  toolkit.setSheetEndedHandler([&](SheetWindow*, sheet::SheetOutcome outcome) {
    ended = true;
    misreported += outcome != expected;
  });
  // Cleared by GLib when the window they point at is finalised.
  std::vector<gpointer> windows(static_cast<size_t>(count), nullptr);
  for (size_t i = 0; i < windows.size(); ++i) {
    GtkWindow* window = sheet::GtkSheetToolkit::gtkWindow(view->configureSheet());
    if (!window) {
      std::printf("FAIL opening %zu: %s\n", i, view->sheetProblem().c_str());
      return 1;
    }
    windows[i] = window;
    g_object_add_weak_pointer(G_OBJECT(window), &windows[i]);
    gtk_window_set_transient_for(window, host);
    gtk_window_set_modal(window, true);
    gtk_window_present(window);
    ended = false;
    expected = i % 3 == 1 ? sheet::SheetOutcome::confirmed : sheet::SheetOutcome::dismissed;
    if (i % 3 == 2) {
      gtk_window_close(window);
    } else {
      g_signal_emit_by_name(
          sheet::GtkSheetToolkit::gtkObject(i % 3 ? view->okButton : view->cancelButton),
          "clicked");
    }
    while (!ended) g_main_context_iteration(nullptr, true);
  }
  settle();
  auto alive = [&] { return count - std::count(windows.begin(), windows.end(), nullptr); };
  const int sheets = alive(), loads = sheet::GtkSheetToolkit::liveLoads();
  view.reset();
  settle();
  const int sheetsAfter = alive(), loadsAfter = sheet::GtkSheetToolkit::liveLoads();
  const bool ok =
      sheets <= 1 && loads == 1 && sheetsAfter == 0 && loadsAfter == 0 && misreported == 0;
  std::printf(
      "%s after %d openings: %d misreported, %d sheet windows and %d loads alive; %d and "
      "%d once the view is gone\n",
      ok ? "ok" : "FAIL", count, misreported, sheets, loads, sheetsAfter, loadsAfter);
  for (gpointer& w : windows) {
    if (w) g_object_remove_weak_pointer(G_OBJECT(w), &w);
  }
  gtk_window_destroy(host);
  return ok ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: %s PREFS_UI DIR N\n", argv[0]);
    return 2;
  }
  if (!gtk_init_check()) {
    std::fprintf(stderr, "%s: cannot open a display\n", argv[0]);
    return 2;
  }
  sheet::GtkSheetToolkit toolkit;
  sheet::setSheetToolkit(&toolkit);
  const int damagedStatus = damaged(toolkit, argv[1], argv[2]);
  toolkit.setResourceDirectories(nimbrel::host::resourceDirectories());
  const int opensStatus = opens(toolkit, std::atoi(argv[3]));
  sheet::setSheetToolkit(nullptr);
  return damagedStatus | opensStatus;
}
