# SMTP for the mail object, .xlsx packages and their XML for the workbook
# object, and the speech synthesiser for the voice object.  The objects run
# in the script host.
pkg_check_modules(TARV_MAIL_CURL REQUIRED IMPORTED_TARGET libcurl)
pkg_check_modules(TARV_MAIL_ZIP REQUIRED IMPORTED_TARGET libzip)
pkg_check_modules(TARV_MAIL_PUGIXML REQUIRED IMPORTED_TARGET pugixml)
pkg_check_modules(TARV_MAIL_ESPEAK REQUIRED IMPORTED_TARGET espeak-ng)
tarv_family_module(mail FAMILY MailFamily
                   LIBRARIES PkgConfig::TARV_MAIL_CURL PkgConfig::TARV_MAIL_ZIP
                             PkgConfig::TARV_MAIL_PUGIXML PkgConfig::TARV_MAIL_ESPEAK
                   MODULES scripthost)
