# Removes every file that install_manifest.txt (MANIFEST) lists, then the directories of ours
# that are left empty. Run by `cmake --build BUILD --target uninstall`; DESTDIR applies as it did
# to the installation.
if(NOT EXISTS "${MANIFEST}")
  message(FATAL_ERROR "nothing to uninstall: no ${MANIFEST} (install from this build first)")
endif()
file(STRINGS "${MANIFEST}" installed)
foreach(file IN LISTS installed)
  set(path "$ENV{DESTDIR}${file}")
  # A dangling link is not EXISTS, yet is ours to remove.
  if(EXISTS "${path}" OR IS_SYMLINK "${path}")
    message(STATUS "Removing ${path}")
    file(REMOVE "${path}")
    if(EXISTS "${path}" OR IS_SYMLINK "${path}")
      message(FATAL_ERROR "could not remove ${path}")
    endif()
  endif()
  # Only directories that hold nothing but our files are ours: share/nimbrel/.
  get_filename_component(dir "${path}" DIRECTORY)
  get_filename_component(dir_name "${dir}" NAME)
  if(dir_name STREQUAL "nimbrel")
    file(GLOB left "${dir}/*")
    if(NOT left)
      file(REMOVE_RECURSE "${dir}")
    endif()
  endif()
endforeach()
