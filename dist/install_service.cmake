# Installs the files of the service qsserverd; runs at install time (cmake --install, cpack)
# with QS_DIST_DIR, QS_WORK_DIR and the relative QS_BINDIR, QS_SBINDIR, QS_DATADIR set:
#   PREFIX/lib/systemd/system/qsserverd.service   the unit, not enabled
#   SYSCONFDIR/quillspeak/qsserver.conf, odbc.ini the settings and the SQLite data source
#   SYSCONFDIR/quillspeak/odbcinst.ini            a link to the system's ODBC drivers
#   LOCALSTATEDIR/lib/quillspeak/qsserver.conf    the working folder's link to those settings
#   PREFIX/SBINDIR/quillspeak-init-db             makes the database in that folder
# SYSCONFDIR and LOCALSTATEDIR follow the prefix given at install time, as GNUInstallDirs
# places them: /etc and /var for /usr (the Debian package), PREFIX/etc and PREFIX/var for
# /usr/local, so that an install there writes nothing in /etc. Settings already installed are
# kept.
set(prefix "${CMAKE_INSTALL_PREFIX}")
if(prefix MATCHES "^/(usr/?)?$")
    set(sysconfdir /etc)
    set(localstatedir /var)
elseif(prefix MATCHES "^/opt/")
    set(sysconfdir "/etc${prefix}")
    set(localstatedir "/var${prefix}")
else()
    set(sysconfdir "${prefix}/etc")
    set(localstatedir "${prefix}/var")
endif()
set(bindir "${prefix}/${QS_BINDIR}")
set(datadir "${prefix}/${QS_DATADIR}/quillspeak")
set(confdir "${sysconfdir}/quillspeak")
set(statedir "${localstatedir}/lib/quillspeak")
set(work "${QS_WORK_DIR}")

configure_file("${QS_DIST_DIR}/qsserverd.service.in" "${work}/qsserverd.service" @ONLY)
configure_file("${QS_DIST_DIR}/quillspeak-init-db.in" "${work}/quillspeak-init-db" @ONLY)
configure_file("${QS_DIST_DIR}/odbc.ini.in" "${work}/odbc.ini" @ONLY)
configure_file("${QS_DIST_DIR}/qsserverd.conf.in" "${work}/qsserver.conf" @ONLY)

file(MAKE_DIRECTORY "${work}/state")
file(CREATE_LINK "${confdir}/qsserver.conf" "${work}/state/qsserver.conf" SYMBOLIC)
file(RELATIVE_PATH drivers "${confdir}" /etc/odbcinst.ini)  # ../odbcinst.ini in /etc/quillspeak
file(CREATE_LINK "${drivers}" "${work}/odbcinst.ini" SYMBOLIC)

file(INSTALL "${work}/qsserverd.service" DESTINATION "${prefix}/lib/systemd/system")
file(INSTALL "${work}/quillspeak-init-db" DESTINATION "${prefix}/${QS_SBINDIR}"
     FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
foreach(name qsserver.conf odbc.ini)
    if(EXISTS "$ENV{DESTDIR}${confdir}/${name}")
        message(STATUS "Kept: $ENV{DESTDIR}${confdir}/${name}")
    else()
        file(INSTALL "${work}/${name}" DESTINATION "${confdir}")
    endif()
endforeach()
file(INSTALL "${work}/odbcinst.ini" DESTINATION "${confdir}")
file(INSTALL "${work}/state/qsserver.conf" DESTINATION "${statedir}")
