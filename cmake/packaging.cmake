# Installation of the manual page and the Debian package.
# `cmake --install` puts the page in share/man/man1 beside bin/skerla,
# honouring CMAKE_INSTALL_PREFIX and DESTDIR; scripts/build-package runs
# CPack's DEB generator on the same install rules.

# Debian installs manual pages compressed; -n leaves the time out of the
# gzip header so the same page always gives the same bytes.
set(SKERLA_MAN_PAGE ${PROJECT_SOURCE_DIR}/man/skerla.1)
find_program(SKERLA_GZIP gzip)
if(SKERLA_GZIP)
  set(SKERLA_INSTALLED_MAN_PAGE ${CMAKE_CURRENT_BINARY_DIR}/man/skerla.1.gz)
  add_custom_command(
    OUTPUT ${SKERLA_INSTALLED_MAN_PAGE}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_CURRENT_BINARY_DIR}/man
    COMMAND ${CMAKE_COMMAND} -E copy ${SKERLA_MAN_PAGE} ${CMAKE_CURRENT_BINARY_DIR}/man/skerla.1
    COMMAND ${SKERLA_GZIP} -9nf ${CMAKE_CURRENT_BINARY_DIR}/man/skerla.1
    DEPENDS ${SKERLA_MAN_PAGE}
    VERBATIM)
else()
  set(SKERLA_INSTALLED_MAN_PAGE ${SKERLA_MAN_PAGE})
endif()
add_custom_target(man_page ALL DEPENDS ${SKERLA_INSTALLED_MAN_PAGE})
install(FILES ${SKERLA_INSTALLED_MAN_PAGE} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME skerla)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "mailing-list exploder for a sendmail-compatible MTA")
set(CPACK_PACKAGE_DESCRIPTION "skerla is started by the mail transfer agent once for every post to a
list, from an alias that pipes the message into it. It rewrites the
header for list distribution, diverts bounces and list-server commands
to the list owner, refuses what a list must refuse, sorts the
subscribers by domain and hands the post back to the MTA through
/usr/sbin/sendmail -bs in envelopes of bounded size.")

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_RELEASE 1)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "skerla developers <skerla@lists.example.org>")
set(CPACK_DEBIAN_PACKAGE_SECTION mail)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# Library dependencies come from dpkg-shlibdeps (package dpkg-dev).
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# skerla is useless without an MTA to start it and to take its envelopes,
# but a hard dependency would make `dpkg -i` fail on a machine that has
# none yet, and -debug runs need none: apt installs recommendations.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "default-mta | mail-transport-agent")

include(CPack)
