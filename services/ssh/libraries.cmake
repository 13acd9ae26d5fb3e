# libssh2 runs the SSH protocol over a socket that the socket layer connects.
pkg_check_modules(LIBSSH2 REQUIRED IMPORTED_TARGET libssh2)
tarv_family_module(ssh FAMILY SshFamily LIBRARIES PkgConfig::LIBSSH2)
