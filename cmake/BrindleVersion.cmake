# The version as the programs show it: "1.02" is major 1, minor 2, the form
# the version boxes have always used ("%d.%02d"). The package carries the
# same text.
if(PROJECT_VERSION_MINOR LESS 10)
  set(BRINDLE_VERSION_TEXT "${PROJECT_VERSION_MAJOR}.0${PROJECT_VERSION_MINOR}")
else()
  set(BRINDLE_VERSION_TEXT "${PROJECT_VERSION_MAJOR}.${PROJECT_VERSION_MINOR}")
endif()
configure_file(${PROJECT_SOURCE_DIR}/cmake/version.h.in
               ${PROJECT_BINARY_DIR}/generated/common/version.h @ONLY)

# The day of this version, for the AppStream release, the manual pages and
# the package's changelog. Change it with the version.
set(BRINDLE_RELEASE_DATE "2026-12-10")
set(BRINDLE_RELEASE_DATE_DEB "Thu, 10 Dec 2026 12:00:00 +0000")
