# Regular expressions of the script host's RegExp object.
pkg_check_modules(PCRE2 REQUIRED IMPORTED_TARGET libpcre2-8)
target_link_libraries(tarvcore PUBLIC PkgConfig::PCRE2)
