#include "hosts/core/ResourceLookup.h"

#include <cstdlib>
#include <fstream>
#include <optional>
#include <system_error>

#include <unistd.h>

namespace nimbrel::host {

namespace fs = std::filesystem;

namespace {

// How far up from the executable's directory a marker is looked for: build/programs/nimbrel/
// and build/tests/unit/ are two levels below the top of the build tree.
constexpr int kMarkerLevelsUp = 3;

// The directory a marker file names, when the file is there and names one.
std::optional<fs::path> markedDirectory(const fs::path& marker) {
  std::error_code ec;
  if (!fs::is_regular_file(marker, ec)) return std::nullopt;
  std::ifstream in(marker);
  std::string line;
  std::getline(in, line);
  while (!line.empty() && (line.back() == '\r' || line.back() == ' ')) line.pop_back();
  if (line.empty()) return std::nullopt;
  return fs::path(line);
}

// The top of the build tree that holds the executable's directory: where the marker is.
std::optional<fs::path> buildTreeTop(const fs::path& executableDir) {
  fs::path dir = executableDir;
  for (int level = 0; level <= kMarkerLevelsUp && !dir.empty(); ++level) {
    if (markedDirectory(dir / kBuildTreeResourcesMarker)) return dir;
    if (dir == dir.parent_path()) break;  // the root
    dir = dir.parent_path();
  }
  return std::nullopt;
}

std::optional<fs::path> buildTreeResources(const fs::path& executableDir) {
  if (auto top = buildTreeTop(executableDir))
    return markedDirectory(*top / kBuildTreeResourcesMarker);
  return std::nullopt;
}

}  // namespace

fs::path executablePath() {
  std::error_code ec;
  const fs::path executable = fs::read_symlink("/proc/self/exe", ec);
  return ec ? fs::path() : executable;
}

std::vector<fs::path> resourceDirectories(const char* override, const fs::path& executable) {
  if (override && *override) return {fs::path(override)};
  std::vector<fs::path> dirs;
  if (executable.empty()) return dirs;
  const fs::path executableDir = executable.parent_path();
  dirs.push_back((executableDir / ".." / "share" / "nimbrel").lexically_normal());
  if (auto sourceResources = buildTreeResources(executableDir)) dirs.push_back(*sourceResources);
  return dirs;
}

std::vector<fs::path> resourceDirectories() {
  return resourceDirectories(std::getenv("NIMBREL_RESOURCES"), executablePath());
}

fs::path localeDirectory(const fs::path& executable) {
  const fs::path executableDir = executable.parent_path();
  fs::path installed = (executableDir / ".." / "share" / "locale").lexically_normal();
  std::error_code ec;
  if (fs::is_directory(installed, ec)) return installed;
  if (auto top = buildTreeTop(executableDir)) return *top / "locale";
  return installed;
}

fs::path localeDirectory() { return localeDirectory(executablePath()); }

fs::path findResourceIn(const std::vector<fs::path>& directories, const std::string& fileName) {
  for (const fs::path& dir : directories) {
    std::error_code ec;
    fs::path path = dir / fileName;
    if (fs::is_regular_file(path, ec)) return path;
  }
  return {};
}

std::string companionProgram(const std::string& name, const std::string& buildFolder,
                             const fs::path& executable) {
  if (executable.empty()) return name;
  const fs::path dir = executable.parent_path();
  for (const fs::path& candidate : {dir / name, dir.parent_path() / buildFolder / name}) {
    if (access(candidate.c_str(), X_OK) == 0) return candidate.string();
  }
  return name;
}

}  // namespace nimbrel::host
