# What a user installs: the Windows build packs a zip to unpack and run, the Linux
# build a .deb with the command, its manual page and a service. scripts/package runs
# CPack in both build folders.

set(KV_PACKAGING_DIR ${PROJECT_SOURCE_DIR}/packaging)
set(KV_MAINTAINER_EMAIL "kelm-vantoro@users.noreply.example.org")
set(KV_PACKAGE_STAGE ${CMAKE_BINARY_DIR}/package-files)

set(CPACK_PACKAGE_VENDOR "Kelm Vantoro developers")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Live AAC and HE-AAC encoder for Icecast v2 servers")
set(CPACK_STRIP_FILES ON)

# kv_install_notice(<notice> <name>): a library's notice into the zip's LICENSES as
# <name>, with Windows line ends; a packaging without it fails.
function(kv_install_notice notice name)
  if(EXISTS ${notice})
    configure_file(${notice} ${KV_PACKAGE_STAGE}/${name} @ONLY NEWLINE_STYLE CRLF)
    install(FILES ${KV_PACKAGE_STAGE}/${name} DESTINATION LICENSES)
  else()
    install(CODE "message(FATAL_ERROR \"${notice} is missing: run scripts/build-deps\")")
  endif()
endfunction()

if(WIN32)
  # The zip: the two programs side by side with a sample config.ini, a README.txt and
  # the licences, without a folder of its own inside (Windows' "Extract All" makes one).
  install(TARGETS kelm-vantoro-cli RUNTIME DESTINATION .)
  if(TARGET KelmVantoro)
    install(TARGETS KelmVantoro RUNTIME DESTINATION .)
  endif()
  foreach(text config.ini README.txt)
    configure_file(${KV_PACKAGING_DIR}/${text} ${KV_PACKAGE_STAGE}/${text} @ONLY NEWLINE_STYLE CRLF)
    install(FILES ${KV_PACKAGE_STAGE}/${text} DESTINATION .)
  endforeach()
  configure_file(${PROJECT_SOURCE_DIR}/LICENSE ${KV_PACKAGE_STAGE}/KelmVantoro.txt @ONLY NEWLINE_STYLE CRLF)
  install(FILES ${KV_PACKAGE_STAGE}/KelmVantoro.txt DESTINATION LICENSES)
  # The notices of the libraries linked in, which scripts/build-deps keeps from the
  # source packages they were built from: fdk-aac's licence requires its notice beside
  # the binary; libebur128 (the loudness meter) and cpp-httplib (the control interface,
  # compiled in from its header) are MIT, which asks for the notice in every copy; LAME
  # (LGPL), libopus and libogg (BSD) are linked statically too, each licence with every copy.
  kv_install_notice(${KV_DEPS_PREFIX}/share/doc/fdk-aac/NOTICE fdk-aac.txt)
  kv_install_notice(${KV_DEPS_PREFIX}/share/doc/libebur128/COPYING libebur128.txt)
  kv_install_notice(${KV_DEPS_PREFIX}/share/doc/cpp-httplib/LICENSE cpp-httplib.txt)
  kv_install_notice(${KV_DEPS_PREFIX}/share/doc/lame/COPYING lame.txt)
  kv_install_notice(${KV_DEPS_PREFIX}/share/doc/libopus/COPYING libopus.txt)
  kv_install_notice(${KV_DEPS_PREFIX}/share/doc/libogg/COPYING libogg.txt)

  set(CPACK_GENERATOR ZIP)
  set(CPACK_PACKAGE_NAME KelmVantoro)
  set(CPACK_PACKAGE_FILE_NAME "KelmVantoro-${PROJECT_VERSION}-win64")
  set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY OFF)
else()
  include(GNUInstallDirs)
  install(TARGETS kelm-vantoro-cli RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

  # Debian wants the manual page and the changelog compressed, reproducibly (-n).
  set(KV_DEB_DIR ${KV_PACKAGING_DIR}/deb)
  configure_file(${KV_DEB_DIR}/kelm-vantoro-cli.1 ${KV_PACKAGE_STAGE}/kelm-vantoro-cli.1 @ONLY)
  configure_file(${KV_DEB_DIR}/changelog ${KV_PACKAGE_STAGE}/changelog @ONLY)
  add_custom_command(
    OUTPUT ${KV_PACKAGE_STAGE}/kelm-vantoro-cli.1.gz ${KV_PACKAGE_STAGE}/changelog.gz
    COMMAND gzip -9nf -k kelm-vantoro-cli.1 changelog
    DEPENDS ${KV_PACKAGE_STAGE}/kelm-vantoro-cli.1 ${KV_PACKAGE_STAGE}/changelog
    WORKING_DIRECTORY ${KV_PACKAGE_STAGE}
    VERBATIM)
  add_custom_target(kv_package_files ALL
    DEPENDS ${KV_PACKAGE_STAGE}/kelm-vantoro-cli.1.gz ${KV_PACKAGE_STAGE}/changelog.gz)

  install(FILES ${KV_PACKAGE_STAGE}/kelm-vantoro-cli.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  install(FILES ${KV_DEB_DIR}/copyright ${KV_PACKAGE_STAGE}/changelog.gz DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/kelm-vantoro)
  install(FILES ${KV_PACKAGING_DIR}/config.ini DESTINATION /etc/kelm-vantoro)
  install(FILES ${KV_DEB_DIR}/kelm-vantoro.service ${KV_DEB_DIR}/kelm-vantoro@.service
          DESTINATION /lib/systemd/system)

  set(CPACK_GENERATOR DEB)
  set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
  set(CPACK_DEBIAN_PACKAGE_NAME kelm-vantoro)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_MAINTAINER "Kelm Vantoro developers <${KV_MAINTAINER_EMAIL}>")
  set(CPACK_DEBIAN_PACKAGE_SECTION sound)
  set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
  string(CONCAT CPACK_PACKAGE_DESCRIPTION
    "Kelm Vantoro captures an input device, shapes the sound with a broadcast\n"
    "processing chain, encodes AAC-LC, HE-AAC v1, HE-AAC v2, MP3 or Opus and streams it to a\n"
    "mount point of an Icecast v2 server, reconnecting after a loss.\n"
    "\n"
    "This package holds the command-line front end kelm-vantoro-cli and the\n"
    "kelm-vantoro service, which streams the input configured in\n"
    "/etc/kelm-vantoro/config.ini.")
  # The libraries (libfdk-aac, libpulse, libcurl, ...) come from the binary itself.
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  set(CPACK_DEBIAN_PACKAGE_DEPENDS adduser)
  set(CPACK_DEBIAN_PACKAGE_RECOMMENDS pulseaudio)
  set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
    ${KV_DEB_DIR}/conffiles ${KV_DEB_DIR}/postinst ${KV_DEB_DIR}/prerm ${KV_DEB_DIR}/postrm)
  set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
endif()

include(CPack)

# The package tests read what scripts/package wrote to dist/ and skip (77) when it is
# not there. The zip and the setup are checked by the Windows build, the .deb by the
# release build.
if(KV_BUILD_TESTS)
  set(KV_PACKAGE_TESTS)
  if(WIN32)
    set(KV_PACKAGE_TESTS zip_package zip_program setup_package)
    set(KV_PACKAGE_TAG windows)
  elseif(NOT KV_SANITIZE AND NOT KV_TSAN)
    set(KV_PACKAGE_TESTS deb_package)
    set(KV_PACKAGE_TAG linux-release)
  endif()
  if(TARGET KelmVantoro)
    set(KV_HAS_PROGRAM 1)
  else()
    set(KV_HAS_PROGRAM 0)
  endif()
  foreach(name ${KV_PACKAGE_TESTS})
    kv_add_env_test(${KV_PACKAGE_TAG}.packaging.${name} bash ${PROJECT_SOURCE_DIR}/tests/packaging/${name}.sh)
    set_tests_properties(${KV_PACKAGE_TAG}.packaging.${name} PROPERTIES
      ENVIRONMENT "KV_SOURCE_DIR=${PROJECT_SOURCE_DIR};KV_VERSION=${PROJECT_VERSION};KV_EMULATOR=${CMAKE_CROSSCOMPILING_EMULATOR};KV_HAS_PROGRAM=${KV_HAS_PROGRAM}"
      SKIP_RETURN_CODE 77
      TIMEOUT 300)
  endforeach()
endif()
