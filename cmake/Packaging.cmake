# Installation layout and the Debian package.
#
# Programs and the client library live under the prefix (/opt/KTRXORV); the
# configuration, the systemd unit, the log rotation snippet and the manual
# pages go to fixed places outside it, because the daemon and the system
# tools look for them there whatever the prefix.

if(CMAKE_INSTALL_PREFIX_INITIALIZED_TO_DEFAULT)
  set(CMAKE_INSTALL_PREFIX /opt/KTRXORV CACHE PATH "Install prefix" FORCE)
endif()

set(KAV_TEXT_DOMAIN KTRX_VOTRA_CMD)
set(KAV_CONFIG_DIR /etc/opt/KTRXORV/ORV/config)
set(KAV_SYSTEMD_UNIT_DIR /lib/systemd/system CACHE PATH "Where the systemd unit is installed")
# man-db finds pages here without any MANPATH setting; /opt/KTRXORV/share/man
# would need /opt/KTRXORV/bin on every reader's PATH.
set(KAV_MAN_DIR /usr/share/man CACHE PATH "Where the manual pages are installed")
set(KAV_LOGROTATE_DIR /etc/logrotate.d)

set(KAV_PACKAGING_DIR ${PROJECT_SOURCE_DIR}/packaging)
add_subdirectory(${KAV_PACKAGING_DIR}/potgen ${CMAKE_BINARY_DIR}/packaging/potgen)

# --- programs and libraries -------------------------------------------------

# The daemon loads the client library by its soname at run time; the
# executable's RUNPATH is what lets dlopen find it beside the daemon. The
# build tree gets the same RUNPATH (its ../lib does not exist there): left to
# itself CMake pads the build RUNPATH with empty entries, and an empty entry
# makes dlopen look in the current directory.
set_target_properties(kav PROPERTIES INSTALL_RPATH "$ORIGIN/../lib" BUILD_WITH_INSTALL_RPATH ON)
install(TARGETS kav orv-event orv-teo-sink orv-qob-proxy RUNTIME DESTINATION bin)
# No development link: nothing links the library, it is only loaded.
install(TARGETS qobimapi LIBRARY DESTINATION lib NAMELINK_SKIP)
install(FILES ${KAV_POT_FILE} DESTINATION lib/locale)
install(DIRECTORY ${PROJECT_SOURCE_DIR}/demo/events/ DESTINATION share/kav/examples FILES_MATCHING PATTERN "*.json")

# --- configuration: never overwrites what an administrator changed ----------

set(kav_config_mode FILE_PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
set(kav_script_mode FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ
  WORLD_EXECUTE)
set(KAV_CONFFILES "")

function(kav_install_config source destination)
  install(CODE "include(\"${PROJECT_SOURCE_DIR}/cmake/InstallConfigFile.cmake\")
kav_install_config_file(\"${source}\" \"${destination}\" ${ARGN})")
  get_filename_component(name ${source} NAME)
  set(KAV_CONFFILES "${KAV_CONFFILES}${destination}/${name}\n" PARENT_SCOPE)
endfunction()

file(GLOB kav_templates CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/config/templates/*)
file(GLOB kav_scripts CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/config/scripts/*)
foreach(file event_email.cf eventdb.json)
  kav_install_config(${PROJECT_SOURCE_DIR}/config/${file} ${KAV_CONFIG_DIR} ${kav_config_mode})
endforeach()
foreach(file ${kav_templates})
  kav_install_config(${file} ${KAV_CONFIG_DIR}/templates ${kav_config_mode})
endforeach()
foreach(file ${kav_scripts})
  kav_install_config(${file} ${KAV_CONFIG_DIR}/scripts ${kav_script_mode})
endforeach()

# logrotate reads every file of its folder: the snippet's name is the service's.
configure_file(${KAV_PACKAGING_DIR}/kav.logrotate ${CMAKE_BINARY_DIR}/packaging/kav COPYONLY)
kav_install_config(${CMAKE_BINARY_DIR}/packaging/kav ${KAV_LOGROTATE_DIR} ${kav_config_mode})

# The daemon's environment, which the unit reads; it turns the journal on.
configure_file(${KAV_PACKAGING_DIR}/kav.default ${CMAKE_BINARY_DIR}/packaging/default/kav COPYONLY)
kav_install_config(${CMAKE_BINARY_DIR}/packaging/default/kav /etc/default ${kav_config_mode})

install(FILES ${KAV_PACKAGING_DIR}/kav.service DESTINATION ${KAV_SYSTEMD_UNIT_DIR})

# A direct install onto this machine (no DESTDIR: neither a staging folder nor
# the package, whose maintainer scripts do it) also makes the folders the
# daemon and the spool script write to, since the unit mounts /var read-only
# around them and so cannot leave them to be made on first use.
install(CODE "if(\"\$ENV{DESTDIR}\" STREQUAL \"\")
  file(MAKE_DIRECTORY /var/opt/KTRXORV/ORV/logs /var/opt/KTRXORV/ORV/mail-spool)
  file(CHMOD /var/opt/KTRXORV/ORV/logs PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE)
  file(CHMOD /var/opt/KTRXORV/ORV/mail-spool PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE)
endif()")

# --- manual pages -----------------------------------------------------------

set(kav_compressed_pages "")
file(MAKE_DIRECTORY ${CMAKE_BINARY_DIR}/man)
foreach(page kav.8 orv-event.1 event_email.cf.5)
  string(REGEX REPLACE ".*\\.([0-9])$" "\\1" section ${page})
  set(compressed ${CMAKE_BINARY_DIR}/man/${page}.gz)
  add_custom_command(OUTPUT ${compressed}
    COMMAND ${CMAKE_COMMAND} -DINPUT=${page} -DOUTPUT=${compressed} -P ${PROJECT_SOURCE_DIR}/cmake/GzipFile.cmake
    WORKING_DIRECTORY ${PROJECT_SOURCE_DIR}/man
    DEPENDS ${PROJECT_SOURCE_DIR}/man/${page}
    VERBATIM)
  list(APPEND kav_compressed_pages ${compressed})
  install(FILES ${compressed} DESTINATION ${KAV_MAN_DIR}/man${section})
endforeach()
add_custom_target(kav-man ALL DEPENDS ${kav_compressed_pages})

# --- Debian package (cpack -G DEB) ------------------------------------------

# dpkg keeps an administrator's edits of every file under /etc across
# upgrades only for the files listed here.
file(CONFIGURE OUTPUT ${CMAKE_BINARY_DIR}/packaging/conffiles CONTENT "${KAV_CONFFILES}")

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME kav)
set(CPACK_PACKAGE_VENDOR "kav developers")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "event reporting daemon of the platform management suite")
set(CPACK_PACKAGE_DESCRIPTION "kav receives platform events through a door and reports each one through
the platform and domain logs, the event front-end daemon, a remote-services
proxy and email, as the event database and the email control file say.")
set(CPACK_PACKAGING_INSTALL_PREFIX /opt/KTRXORV)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "kav developers <kav@example.org>")
set(CPACK_DEBIAN_PACKAGE_SECTION admin)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# The libraries' packages and versions come from the binaries themselves
# (libmd0 for the attachment digest, libsqlite3-0 for the journal, libsystemd0
# for the word to systemd, the C and C++ runtimes), read by
# dpkg-shlibdeps (dpkg-dev) with the help of file(1); without them the same
# packages are named without versions.
find_program(KAV_SHLIBDEPS dpkg-shlibdeps)
find_program(KAV_FILE file)
if(KAV_SHLIBDEPS AND KAV_FILE)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
else()
  set(CPACK_DEBIAN_PACKAGE_DEPENDS "libc6, libgcc-s1, libmd0, libsqlite3-0, libstdc++6, libsystemd0")
endif()
# Mail submission scripts run the system's sendmail; without one, mail
# still works through spool_mail or a script of the administrator's.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "default-mta | mail-transport-agent")
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "logrotate")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
  ${KAV_PACKAGING_DIR}/debian/postinst ${KAV_PACKAGING_DIR}/debian/prerm ${KAV_PACKAGING_DIR}/debian/postrm
  ${CMAKE_BINARY_DIR}/packaging/conffiles)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)
