# Where `cmake --install` puts everything, and the Windows zip (`--target package`).
#
# Linux: the programs, their man pages, the docs, the Prometheus rules with their
# tests, the logrotate file, the systemd units with the report script, and the
# sysusers.d and tmpfiles.d entries, in the places the Filesystem Hierarchy
# Standard and Debian expect (GNUInstallDirs; for the prefix /usr the
# configuration goes to /etc). Windows: the .exe files, README.txt with
# Windows line ends, the LICENSE and the Task Scheduler command file, all in
# one folder, zipped by CPack as h2mon-<version>-win64.zip.
include(GNUInstallDirs)

set(h2_programs h2mon)
if(H2MON_COMPANIONS)
    list(APPEND h2_programs h2export h2plot)
endif()
if(NOT WIN32)
    list(APPEND h2_programs h2sim)
endif()

if(WIN32)
    install(TARGETS ${h2_programs} RUNTIME DESTINATION .)
    install(FILES LICENSE contrib/windows/run-h2mon.cmd DESTINATION .)
    # README.txt: the README's sections for Windows operators, with CRLF line ends.
    find_package(Python3 COMPONENTS Interpreter REQUIRED)
    set(h2_readme_txt ${CMAKE_BINARY_DIR}/README.txt)
    add_custom_command(OUTPUT ${h2_readme_txt}
        COMMAND Python3::Interpreter ${PROJECT_SOURCE_DIR}/scripts/readme_txt.py
                ${PROJECT_SOURCE_DIR}/README.md ${h2_readme_txt}
        DEPENDS ${PROJECT_SOURCE_DIR}/README.md ${PROJECT_SOURCE_DIR}/scripts/readme_txt.py)
    add_custom_target(h2_readme_txt ALL DEPENDS ${h2_readme_txt})
    install(FILES ${h2_readme_txt} DESTINATION .)

    set(CPACK_GENERATOR ZIP)
    set(CPACK_PACKAGE_FILE_NAME ${PROJECT_NAME}-${PROJECT_VERSION}-win64)
    set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY OFF)
    # Without the debug information the programs are a tenth of their size.
    set(CPACK_STRIP_FILES ON)
    include(CPack)
    return()
endif()

# A relative folder is taken under the prefix of the install (which `cmake
# --install --prefix` may change after configuring).
set(H2MON_SYSTEMD_UNITDIR lib/systemd/system CACHE STRING "Where the systemd units are installed")
# Build folders configured when the default was absolute hold that default.
if(H2MON_SYSTEMD_UNITDIR STREQUAL "${CMAKE_INSTALL_PREFIX}/lib/systemd/system")
    set_property(CACHE H2MON_SYSTEMD_UNITDIR PROPERTY VALUE lib/systemd/system)
endif()
option(H2MON_INSTALL_LICENSE "Install LICENSE with the docs (Debian has its copyright file)" ON)
# What the units run beside the programs: the report script and h2mon-service.
set(h2_libexec_dir lib/h2mon)

install(TARGETS ${h2_programs} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
add_subdirectory(man)

install(FILES README.md DESTINATION ${CMAKE_INSTALL_DOCDIR})
install(DIRECTORY docs/ DESTINATION ${CMAKE_INSTALL_DOCDIR} FILES_MATCHING PATTERN "*.md")
if(H2MON_INSTALL_LICENSE)
    install(FILES LICENSE DESTINATION ${CMAKE_INSTALL_DOCDIR})
endif()
install(FILES contrib/prometheus/maser-alerts.yml contrib/prometheus/maser-alerts.test.yml
              contrib/prometheus/prometheus.yml
        DESTINATION ${CMAKE_INSTALL_DATADIR}/h2mon/prometheus)

# The shipped limits table, for reference: the programs have it built in, and
# /etc/h2mon/limits.conf and NAME.limits override its lines.
install(FILES contrib/h2mon/limits.conf DESTINATION ${CMAKE_INSTALL_DATADIR}/h2mon)
install(FILES contrib/sysusers.d/h2mon.conf DESTINATION lib/sysusers.d)
install(FILES contrib/tmpfiles.d/h2mon.conf DESTINATION lib/tmpfiles.d)
install(PROGRAMS contrib/systemd/h2mon-service DESTINATION ${h2_libexec_dir})
install(FILES contrib/systemd/h2mon-report.timer DESTINATION ${H2MON_SYSTEMD_UNITDIR})
# The units, the report script and the configuration: their folders, and the
# paths the units and the script name, follow the prefix of the install.
install(CODE "
    set(h2_source_dir \"${PROJECT_SOURCE_DIR}\")
    set(h2_binary_dir \"${CMAKE_BINARY_DIR}\")
    set(h2_bindir \"${CMAKE_INSTALL_BINDIR}\")
    set(h2_libexecdir \"${h2_libexec_dir}\")
    set(h2_sysconfdir \"${CMAKE_INSTALL_SYSCONFDIR}\")
    set(h2_unitdir \"${H2MON_SYSTEMD_UNITDIR}\")
    include(\"${PROJECT_SOURCE_DIR}/cmake/install_configured.cmake\")
")
