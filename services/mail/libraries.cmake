# SMTP for the mail object, .xlsx packages and their XML for the workbook
# object, and the speech synthesiser for the voice object.
pkg_check_modules(TARV_MAIL_CURL REQUIRED IMPORTED_TARGET libcurl)
pkg_check_modules(TARV_MAIL_ZIP REQUIRED IMPORTED_TARGET libzip)
pkg_check_modules(TARV_MAIL_PUGIXML REQUIRED IMPORTED_TARGET pugixml)
pkg_check_modules(TARV_MAIL_ESPEAK REQUIRED IMPORTED_TARGET espeak-ng)
target_link_libraries(tarvcore PUBLIC PkgConfig::TARV_MAIL_CURL PkgConfig::TARV_MAIL_ZIP
                      PkgConfig::TARV_MAIL_PUGIXML PkgConfig::TARV_MAIL_ESPEAK)
