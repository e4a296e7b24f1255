# Run by `cmake --install` (see install.cmake): installs the files that name
# other installed files (the systemd units and the report script), with those
# paths worked out from the prefix of this install, since `cmake --install
# --prefix` may give another one than the build was configured with.
#
# In: h2_source_dir, h2_binary_dir, and the folders as configured, each
# relative to the prefix or absolute: h2_bindir, h2_libexecdir, h2_sysconfdir,
# h2_unitdir.

# The absolute folder for `dir`, under CMAKE_INSTALL_PREFIX (this install's).
# The configuration follows GNUInstallDirs: /etc for the prefix /usr (and /),
# /etc/opt/NAME for /opt/NAME, PREFIX/etc for any other prefix.
function(h2_absolute_dir result dir kind)
    set(prefix "${CMAKE_INSTALL_PREFIX}")
    if(IS_ABSOLUTE "${dir}")
        set(path "${dir}")
    elseif(kind STREQUAL "config" AND prefix MATCHES "^/(usr/?)?$")
        set(path "/${dir}")
    elseif(kind STREQUAL "config" AND prefix MATCHES "^/opt/")
        set(path "/${dir}${prefix}")
    else()
        set(path "${prefix}/${dir}")
    endif()
    string(REGEX REPLACE "/+" "/" path "${path}")
    string(REGEX REPLACE "(.)/$" "\\1" path "${path}")
    set(${result} "${path}" PARENT_SCOPE)
endfunction()

h2_absolute_dir(BINDIR "${h2_bindir}" program)
h2_absolute_dir(LIBEXECDIR "${h2_libexecdir}" program)
h2_absolute_dir(SYSCONFDIR "${h2_sysconfdir}" config)
h2_absolute_dir(unitdir "${h2_unitdir}" program)

set(staged "${h2_binary_dir}/install-configured")
file(REMOVE_RECURSE "${staged}")

configure_file("${h2_source_dir}/contrib/h2mon-report.in" "${staged}/h2mon-report" @ONLY)
file(INSTALL DESTINATION "${LIBEXECDIR}" TYPE PROGRAM FILES "${staged}/h2mon-report")

foreach(unit h2mon@.service h2export.service h2mon-report.service)
    configure_file("${h2_source_dir}/contrib/systemd/${unit}.in" "${staged}/${unit}" @ONLY)
    file(INSTALL DESTINATION "${unitdir}" TYPE FILE FILES "${staged}/${unit}")
endforeach()

file(INSTALL DESTINATION "${SYSCONFDIR}/logrotate.d" TYPE FILE
     FILES "${h2_source_dir}/contrib/logrotate/h2mon")
file(INSTALL DESTINATION "${SYSCONFDIR}/h2mon" TYPE FILE
     FILES "${h2_source_dir}/contrib/h2mon/example.conf.sample")
