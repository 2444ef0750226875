# The Debian package: `cpack -G DEB` in a Release build folder packs what
# `cmake --install` installs, under /usr. Its dependencies are the packages
# of the shared libraries the programs link, found by dpkg-shlibdeps.
set(CPACK_PACKAGE_NAME lyrabell)
set(CPACK_PACKAGE_VENDOR "Corvendale")
set(CPACK_PACKAGE_CONTACT "Lyrabell developers <maintainers@lyrabell.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "visual voicemail player")
set(CPACK_PACKAGE_DESCRIPTION
  "Lyrabell lists the voicemails that a voicemail service delivers as e-mails\n\
with the recording attached, names each caller from the contacts, and plays\n\
the one picked. It reads Maildir accounts and plays wave recordings in PCM,\n\
ADPCM, G.711, GSM 06.10 and G.729, and raw GSM files.")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION sound)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Qt finds its platform plugins at run time; the libraries alone would not
# pull in the X11 one (the Wayland one is recommended).
set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "qt6-wayland, shared-mime-info")
set(CPACK_GENERATOR DEB)
include(CPack)
