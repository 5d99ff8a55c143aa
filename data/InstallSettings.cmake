# SPDX-License-Identifier: GPL-3.0-or-later
# Install step: writes the settings file with its default (byte 12000 is '1',
# "with artist"; the bytes before it are zero) unless a file of that name, or
# a link, is already there. An existing file is never replaced or truncated.
set(dat "$ENV{DESTDIR}${CMAKE_INSTALL_PREFIX}/${TAVOLY_SETTINGS_FILE}")
if(EXISTS "${dat}" OR IS_SYMLINK "${dat}")
  message(STATUS "Keeping: ${dat}")
  return()
endif()
get_filename_component(dir "${dat}" DIRECTORY)
file(MAKE_DIRECTORY "${dir}")
set(tmp "${dir}/.Vov.dat.new")
file(REMOVE "${tmp}")
execute_process(COMMAND truncate -s 12000 "${tmp}" RESULT_VARIABLE failed)
if(failed)
  message(FATAL_ERROR "Cannot write ${tmp}")
endif()
file(APPEND "${tmp}" "1")
# NO_REPLACE: a file that appeared meanwhile wins over the default.
file(RENAME "${tmp}" "${dat}" RESULT failed NO_REPLACE)
file(REMOVE "${tmp}")
if(failed AND NOT EXISTS "${dat}")
  message(FATAL_ERROR "Cannot create ${dat}: ${failed}")
elseif(failed)
  message(STATUS "Keeping: ${dat}")
else()
  message(STATUS "Installing: ${dat}")
endif()
