# Runs at install time, with CMAKE_INSTALL_PREFIX the prefix in effect then (the Debian package
# installs with /usr); DESTDIR, when set, is honoured by file(INSTALL).
#   <prefix>/lib/systemd/system/statewarden.service, tarn1_iam_daemon.service
#   /etc/adaptive/statewarden.json for the prefix /usr, <prefix>/etc/adaptive/statewarden.json otherwise

set(TARN1_UNIT_BINDIR "${CMAKE_INSTALL_PREFIX}/${tarn1_service_bindir}")
set(TARN1_UNIT_DATADIR "${CMAKE_INSTALL_PREFIX}/${tarn1_service_datadir}")
set(TARN1_UNIT_DOCDIR "${CMAKE_INSTALL_PREFIX}/${tarn1_service_docdir}")

foreach(unit statewarden.service tarn1_iam_daemon.service)
    configure_file("${tarn1_service_source_dir}/${unit}.in" "${tarn1_service_binary_dir}/${unit}" @ONLY)
    file(INSTALL "${tarn1_service_binary_dir}/${unit}"
        DESTINATION "${CMAKE_INSTALL_PREFIX}/lib/systemd/system"
        PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
endforeach()

if(CMAKE_INSTALL_PREFIX STREQUAL "/usr")
    set(sysconf_dir "/etc")
else()
    set(sysconf_dir "${CMAKE_INSTALL_PREFIX}/etc")
endif()
file(INSTALL "${tarn1_service_configuration}"
    DESTINATION "${sysconf_dir}/adaptive"
    PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
