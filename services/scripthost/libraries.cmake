# Regular expressions of the script host's RegExp object.
pkg_check_modules(PCRE2 REQUIRED IMPORTED_TARGET libpcre2-8)
tarv_family_module(scripthost FAMILY ScriptHostFamily LIBRARIES PkgConfig::PCRE2)
