# libssh2 runs the SSH protocol over a socket that the socket layer connects.
pkg_check_modules(LIBSSH2 REQUIRED IMPORTED_TARGET libssh2)
target_link_libraries(tarvcore PUBLIC PkgConfig::LIBSSH2)
