#pragma once

// Where a program finds its resources (Prefs.ui and the like): beside the installed program,
// wherever its installation was moved, with no path of the build machine compiled in.

#include <filesystem>
#include <string>
#include <vector>

namespace nimbrel::host {

// A file that the build writes at the top of the build tree and never installs: one line, the
// source tree's resources/ directory. It lets a program run from the build tree find the
// resources it has not installed.
inline constexpr const char* kBuildTreeResourcesMarker = "nimbrel-resources-dir";

// This process's program, through /proc/self/exe; an empty path when that cannot be read.
std::filesystem::path executablePath();

// The directories to look in, in order, for a program at `executable`: `override` alone when it
// is set and not empty (the value of NIMBREL_RESOURCES); otherwise the installed layout,
// <executable's directory>/../share/nimbrel, then the directory that a build-tree marker names,
// when one lies in the executable's directory or one of its nearest ancestors.
std::vector<std::filesystem::path> resourceDirectories(const char* override,
                                                       const std::filesystem::path& executable);

// The same for this process: NIMBREL_RESOURCES and /proc/self/exe.
std::vector<std::filesystem::path> resourceDirectories();

// The first regular file of that name in the directories, or an empty path.
std::filesystem::path findResourceIn(const std::vector<std::filesystem::path>& directories,
                                     const std::string& fileName);

// Where the compiled translations are for a program at `executable`: the installed layout,
// <executable's directory>/../share/locale, when it is there; otherwise the build tree's own
// locale/ beside its marker, for a program run from the build tree.
std::filesystem::path localeDirectory(const std::filesystem::path& executable);

// The same for this process, through /proc/self/exe.
std::filesystem::path localeDirectory();

// Another program of the project, as this one at `executable` starts it: the one installed
// beside it, else the one built in the build tree's sibling folder `buildFolder` (programs/nimbrel/
// for the saver), else the bare name, for a search of PATH.
std::string companionProgram(const std::string& name, const std::string& buildFolder,
                             const std::filesystem::path& executable);

}  // namespace nimbrel::host
