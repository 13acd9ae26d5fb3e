# Regular expressions of the script host's RegExp object.
pkg_check_modules(PCRE2 REQUIRED IMPORTED_TARGET libpcre2-8)
tarv_family_module(scripthost FAMILY ScriptHostFamily LIBRARIES PkgConfig::PCRE2)
# The interpreter's functions call one another directly rather than through
# the module's symbol table. Functions start on a cache line of their own and
# loops on a 32-byte boundary: the speed of the statement loop then no longer
# shifts by a tenth with where unrelated code happens to fall.
target_compile_options(tarv_scripthost_objects PRIVATE -fno-semantic-interposition -falign-functions=64
                       $<$<CXX_COMPILER_ID:GNU>:-falign-jumps=16> $<$<CXX_COMPILER_ID:GNU>:-falign-loops=32>)
target_link_options(tarv_scripthost PRIVATE -Wl,-Bsymbolic-functions)
