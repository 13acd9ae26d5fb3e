pkg_check_modules(TARV_WEB_CURL REQUIRED IMPORTED_TARGET libcurl)
tarv_family_module(web FAMILY WebFamily LIBRARIES PkgConfig::TARV_WEB_CURL)
