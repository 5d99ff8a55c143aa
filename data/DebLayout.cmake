# SPDX-License-Identifier: GPL-3.0-or-later
# CPack runs this on the installed tree before it builds the .deb: the Debian
# places for what the plain install keeps beside the program.
# - The settings file goes to /etc/mp3tavoly as a conffile, with a link from
#   the program's Vov folder: /usr may be read-only, and dpkg keeps a changed
#   conffile over upgrades and removals.
# - Manual pages compressed, whoever installed them.
# - The copyright and changelog files every package carries.
set(root "${CPACK_TEMPORARY_INSTALL_DIRECTORY}")
set(src "${CPACK_TAVOLY_SOURCE_DIR}/data")
set(vov "${root}/usr/lib/mp3tavoly/Vov")
if(NOT EXISTS "${vov}/Vov.dat")
  message(FATAL_ERROR "The install left no ${vov}/Vov.dat")
endif()
file(MAKE_DIRECTORY "${root}/etc/mp3tavoly")
file(RENAME "${vov}/Vov.dat" "${root}/etc/mp3tavoly/Vov.dat")
file(REMOVE_RECURSE "${vov}")
file(CREATE_LINK /etc/mp3tavoly "${vov}" SYMBOLIC)

set(doc "${root}/usr/share/doc/mp3tavoly")
file(MAKE_DIRECTORY "${doc}")
file(COPY_FILE "${src}/copyright" "${doc}/copyright")
execute_process(COMMAND gzip -9 -n -c "${src}/changelog"
  OUTPUT_FILE "${doc}/changelog.gz" RESULT_VARIABLE failed)
if(failed)
  message(FATAL_ERROR "Cannot compress the changelog")
endif()

file(GLOB pages "${root}/usr/share/man/man*/*")
foreach(page IN LISTS pages)
  if(NOT page MATCHES "\\.gz$" AND NOT IS_SYMLINK "${page}")
    execute_process(COMMAND gzip -9 -n "${page}" RESULT_VARIABLE failed)
    if(failed)
      message(FATAL_ERROR "Cannot compress ${page}")
    endif()
  endif()
endforeach()
