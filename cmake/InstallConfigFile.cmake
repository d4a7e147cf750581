# Install-time helper: a configuration file an administrator may have edited
# is never overwritten. When the installed copy differs from the shipped one,
# the shipped one goes beside it as NAME.new for the administrator to merge.
function(kav_install_config_file source destination)
  get_filename_component(name "${source}" NAME)
  set(installed "$ENV{DESTDIR}${destination}/${name}")
  set(rename "${name}")
  if(EXISTS "${installed}")
    file(SHA256 "${source}" shipped)
    file(SHA256 "${installed}" current)
    if(shipped STREQUAL current)
      message(STATUS "Up-to-date: ${installed}")
      return()
    endif()
    set(rename "${name}.new")
    message(STATUS "Kept: ${installed} (changed locally; the new version is ${name}.new)")
  endif()
  file(INSTALL "${source}" DESTINATION "${destination}" RENAME "${rename}" ${ARGN})
endfunction()
