# net-snmp builds and parses the SNMP messages; the socket and the wait are ours.
pkg_check_modules(NETSNMP REQUIRED IMPORTED_TARGET netsnmp)
tarv_family_module(snmp FAMILY SnmpFamily LIBRARIES PkgConfig::NETSNMP)
