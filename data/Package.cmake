# SPDX-License-Identifier: GPL-3.0-or-later
# The Debian package, made by CPack from what the install rules put in place
# (so whatever is added to them later is packed too): scripts/package.sh.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME mp3tavoly)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "Mp3 Tavoly developers <help@example.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "rename MP3 files after the song in their ID3v1 tag")
set(CPACK_PACKAGE_DESCRIPTION
"Mp3 Tavoly is a desktop tool that renames MP3 files after the song title
stored in their ID3v1 tag, optionally with the artist first. Files, or whole
folders with their sub-folders, go into a rename queue; a rename never
replaces another file, and Undo gives the old names back. It also edits the
ID3v1 tag of a file and plays it.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION sound)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://example.org/mp3tavoly/")
# Libraries come in through their shared objects, TagLib (libtag1v5, which
# both programs link) among them.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The player hands MP3 files to GStreamer: playbin and the output sinks come
# with -base, the MP3 parser and decoder with -good.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "gstreamer1.0-plugins-base, gstreamer1.0-plugins-good")
# wx's own texts (file dialogs, stock buttons) in the user's language.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "wx3.2-i18n")
# The settings file moves to /etc as a conffile (see DebLayout.cmake), so an
# upgrade keeps the administrator's choice and a removal leaves it behind.
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${PROJECT_SOURCE_DIR}/data/conffiles)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_PRE_BUILD_SCRIPTS ${PROJECT_SOURCE_DIR}/data/DebLayout.cmake)
set(CPACK_TAVOLY_SOURCE_DIR ${PROJECT_SOURCE_DIR})
include(CPack)
