# SQLite 3 and MariaDB's C client library (the MySQL C API).
pkg_check_modules(TARV_SQLITE3 REQUIRED IMPORTED_TARGET sqlite3)
pkg_check_modules(TARV_MARIADB REQUIRED IMPORTED_TARGET libmariadb)
tarv_family_module(database FAMILY DatabaseFamily
                   LIBRARIES PkgConfig::TARV_SQLITE3 PkgConfig::TARV_MARIADB)
