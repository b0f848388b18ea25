# The Debian package zor-nosql_<version>_amd64.deb, made by `--target package` (CPack, DEB only).
# Layout (docs/operations.md lists it; scripts/package_test.sh checks it):
#   /opt/zor_nosql/zor_nosql_server, zor_ndb.toml and init.nos (the two as conffiles)
#   /usr/bin/zor_nosql_cli and zor_nosql_benchmark
#   /lib/systemd/system/zor_nosql_server.service
# The maintainer scripts only reload systemd; they never enable or start the service.
# Install destinations are relative to "/", the package root (`cmake --install --prefix /` gives
# the same layout without the package).
set(zor_home opt/zor_nosql)
install(TARGETS zor_nosql_server DESTINATION ${zor_home})
install(FILES ${PROJECT_SOURCE_DIR}/examples/zor_ndb.toml ${PROJECT_SOURCE_DIR}/examples/init.nos
        DESTINATION ${zor_home})
install(TARGETS zor_nosql_cli zor_nosql_benchmark DESTINATION usr/bin)
install(FILES ${PROJECT_SOURCE_DIR}/packaging/zor_nosql_server.service
        DESTINATION lib/systemd/system)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGING_INSTALL_PREFIX /)
set(CPACK_PACKAGE_NAME zor-nosql)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "in-memory typed NoSQL database server")
set(CPACK_PACKAGE_DESCRIPTION
    "Thirteen kinds of typed containers in memory, served over TCP with logins; a start-up\n\
script, backup and restore to an image file. Includes the client zor_nosql_cli and the load\n\
tool zor_nosql_benchmark. The service is installed but neither enabled nor started.")
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "the zor nosql developers <zor-nosql@example.org>")
set(CPACK_DEBIAN_PACKAGE_SECTION database)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# Depends: from the shared libraries the programs link (dpkg-shlibdeps; packages dpkg-dev, file).
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
    ${PROJECT_SOURCE_DIR}/packaging/debian/conffiles
    ${PROJECT_SOURCE_DIR}/packaging/debian/postinst
    ${PROJECT_SOURCE_DIR}/packaging/debian/postrm)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)
