# Every library the project builds against, found once. scripts/install-deps
# installs the Debian packages that provide them.
find_package(Qt6 6.4 REQUIRED COMPONENTS Core DBus Gui Widgets Test)
find_package(PkgConfig REQUIRED)
find_package(Threads REQUIRED)
find_package(GTest REQUIRED)
find_package(benchmark QUIET)

pkg_check_modules(SQLITE3 REQUIRED IMPORTED_TARGET sqlite3)
pkg_check_modules(GMIME REQUIRED IMPORTED_TARGET gmime-3.0)
pkg_check_modules(ALSA REQUIRED IMPORTED_TARGET alsa)
pkg_check_modules(BCG729 REQUIRED IMPORTED_TARGET libbcg729)
pkg_check_modules(SPANDSP IMPORTED_TARGET spandsp)
pkg_check_modules(FFMPEG REQUIRED IMPORTED_TARGET libavformat libavcodec libswresample libavutil)
# IMAP accounts: the protocol (libetpan), the certificate check (GnuTLS, the
# library libetpan's TLS runs on) and the passwords (libsecret).
pkg_check_modules(ETPAN REQUIRED IMPORTED_TARGET libetpan)
pkg_check_modules(GNUTLS REQUIRED IMPORTED_TARGET gnutls)
pkg_check_modules(LIBSECRET REQUIRED IMPORTED_TARGET libsecret-1)

# Libraries without pkg-config files.
function(lyb_find_plain_library target lib header)
  find_library(${target}_LIBRARY NAMES ${lib} REQUIRED)
  find_path(${target}_INCLUDE_DIR NAMES ${header} REQUIRED)
  add_library(${target} UNKNOWN IMPORTED)
  set_target_properties(${target} PROPERTIES
    IMPORTED_LOCATION ${${target}_LIBRARY}
    INTERFACE_INCLUDE_DIRECTORIES ${${target}_INCLUDE_DIR})
endfunction()
lyb_find_plain_library(Lyb::gsm gsm gsm.h)
lyb_find_plain_library(Lyb::sonic sonic sonic.h)
lyb_find_plain_library(Lyb::phonenumber phonenumber phonenumbers/phonenumberutil.h)
# Its number objects are protocol buffer messages: code that copies them needs
# the protobuf runtime too.
pkg_check_modules(PROTOBUF REQUIRED IMPORTED_TARGET protobuf)
set_property(TARGET Lyb::phonenumber APPEND PROPERTY INTERFACE_LINK_LIBRARIES PkgConfig::PROTOBUF)
