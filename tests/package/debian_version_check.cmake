# The Debian package's version (debian/changelog's first line) must be the
# project's, which every program prints.
file(STRINGS ${CHANGELOG} first_line LIMIT_COUNT 1)
if(NOT first_line MATCHES "^h2mon \\(([^)]+)\\)")
    message(FATAL_ERROR "debian/changelog: no version in \"${first_line}\"")
endif()
if(NOT CMAKE_MATCH_1 STREQUAL VERSION)
    message(FATAL_ERROR "debian/changelog says ${CMAKE_MATCH_1}, the project ${VERSION}")
endif()
