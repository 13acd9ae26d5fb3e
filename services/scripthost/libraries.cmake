# Regular expressions of the script host's RegExp object.
pkg_check_modules(PCRE2 REQUIRED IMPORTED_TARGET libpcre2-8)
tarv_family_module(scripthost FAMILY ScriptHostFamily LIBRARIES PkgConfig::PCRE2)
# The interpreter's functions call one another directly rather than through
# the module's symbol table.
target_compile_options(tarv_scripthost_objects PRIVATE -fno-semantic-interposition)
target_link_options(tarv_scripthost PRIVATE -Wl,-Bsymbolic-functions)
