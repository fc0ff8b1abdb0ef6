# What `cmake --install` puts in place and how `cpack -G DEB` packages it. A program is added
# with one vx_install_program() line; its man page is made from its --help and --version.
include(GNUInstallDirs)

set(VX_APP_ID "org.example.vx418" CACHE STRING
    "AppStream component id (reverse domain of whoever ships the program)")
set(VX_PACKAGE_MAINTAINER "VX418 Management Utility developers <vx418@example.org>"
    CACHE STRING "Maintainer field of the Debian package")

# Sanitizer builds are never packaged, and their programs' leak reports would fail help2man.
if(NOT VX_SANITIZE AND NOT VX_TSAN)
    find_program(VX_HELP2MAN help2man)
    if(NOT VX_HELP2MAN)
        message(WARNING "help2man not found: programs are installed without man pages")
    endif()
endif()

set(VX_PACKAGING_DIR ${PROJECT_SOURCE_DIR}/packaging)
set(VX_MAN_DIR ${PROJECT_BINARY_DIR}/man)
add_custom_target(vx_man_pages ALL)

# Installs a program to bin with a man page in section 1. packaging/<target>.h2m, when present,
# adds sections to the page.
function(vx_install_program target summary)
    if(NOT TARGET ${target})
        return()
    endif()
    install(TARGETS ${target} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
    if(NOT VX_HELP2MAN)
        return()
    endif()
    set(page ${VX_MAN_DIR}/${target}.1)
    set(include_args)
    set(include_file ${VX_PACKAGING_DIR}/${target}.h2m)
    if(EXISTS ${include_file})
        set(include_args --include=${include_file})
    endif()
    # gzip -n: no name or time stamp in the compressed page, so builds are reproducible.
    add_custom_command(
        OUTPUT ${page}.gz
        COMMAND ${CMAKE_COMMAND} -E make_directory ${VX_MAN_DIR}
        COMMAND ${CMAKE_COMMAND} -E env QT_QPA_PLATFORM=offscreen
                ${VX_HELP2MAN} --no-info --section=1 --name=${summary} ${include_args}
                --output=${page} $<TARGET_FILE:${target}>
        COMMAND gzip -9nf ${page}
        DEPENDS ${target} ${include_file}
        COMMENT "Man page of ${target}"
        VERBATIM)
    add_custom_target(vx_man_${target} DEPENDS ${page}.gz)
    add_dependencies(vx_man_pages vx_man_${target})
    install(FILES ${page}.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endfunction()

vx_install_program(vx418 "find and configure VX418 AV extender units on the local network")
vx_install_program(vx418-sim "simulated VX418 units on a network interface, for the lab")
vx_install_program(vx418ctl "find and configure VX418 units from the command line and scripts")
vx_install_program(vx418-capture "capture helper of vx418 and vx418ctl")
if(TARGET vx418ctl)
    install(FILES ${VX_PACKAGING_DIR}/vx418ctl.bash-completion
            DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions RENAME vx418ctl)
endif()

# The vx418.av Ansible collection (docs/ansible.md), where Ansible looks for collections, so that
# `ansible-doc vx418.av.installation` works on a station. Its tests stay in the source tree.
install(DIRECTORY ${PROJECT_SOURCE_DIR}/ansible/ansible_collections/vx418/av/
        DESTINATION ${CMAKE_INSTALL_DATADIR}/ansible/collections/ansible_collections/vx418/av
        FILE_PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ
        PATTERN tests EXCLUDE PATTERN __pycache__ EXCLUDE PATTERN "*.tar.gz" EXCLUDE
        PATTERN COPYRIGHT EXCLUDE)  # the package's copyright file covers it

# Desktop entry, AppStream data and the icon at the hicolor sizes (res/make_hicolor_icons.py).
configure_file(${PROJECT_SOURCE_DIR}/res/vx418.metainfo.xml.in
               ${PROJECT_BINARY_DIR}/${VX_APP_ID}.metainfo.xml @ONLY)
configure_file(${PROJECT_SOURCE_DIR}/res/vx418.desktop ${PROJECT_BINARY_DIR}/${VX_APP_ID}.desktop
               COPYONLY)
install(FILES ${PROJECT_BINARY_DIR}/${VX_APP_ID}.desktop
        DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${PROJECT_BINARY_DIR}/${VX_APP_ID}.metainfo.xml
        DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
foreach(size 16 32 48 128 256)
    install(FILES ${PROJECT_SOURCE_DIR}/res/icons/hicolor/${size}x${size}/apps/vx418.png
            DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps)
endforeach()

# Debian's documentation files: copyright, the changelog (gzip -n: no timestamp in it), README.
string(TIMESTAMP VX_CHANGELOG_DATE "%a, %d %b %Y %H:%M:%S +0000" UTC)
configure_file(${VX_PACKAGING_DIR}/changelog.in ${PROJECT_BINARY_DIR}/packaging/changelog @ONLY)
add_custom_command(
    OUTPUT ${PROJECT_BINARY_DIR}/packaging/changelog.gz
    COMMAND gzip -9nf -k ${PROJECT_BINARY_DIR}/packaging/changelog
    DEPENDS ${PROJECT_BINARY_DIR}/packaging/changelog
    VERBATIM)
add_custom_target(vx_changelog ALL DEPENDS ${PROJECT_BINARY_DIR}/packaging/changelog.gz)
set(VX_DOC_DIR ${CMAKE_INSTALL_DATADIR}/doc/vx418)
install(FILES ${VX_PACKAGING_DIR}/copyright ${PROJECT_BINARY_DIR}/packaging/changelog.gz
              ${PROJECT_SOURCE_DIR}/README.md ${PROJECT_SOURCE_DIR}/docs/install.md
              ${PROJECT_SOURCE_DIR}/docs/vx418ctl.schema.json
              ${PROJECT_SOURCE_DIR}/docs/capture-helper.md ${PROJECT_SOURCE_DIR}/docs/ansible.md
        DESTINATION ${VX_DOC_DIR})

# The Debian package. postinst makes the vx418 group and gives the capture helper alone
# root:vx418 0750 (dpkg-statoverride) and cap_net_raw; prerm/postrm take them away again.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME vx418)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT ${VX_PACKAGE_MAINTAINER})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER ${VX_PACKAGE_MAINTAINER})
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "adduser, libcap2-bin")
# The Ansible collection it carries (a controller needs Ansible, a station only Python 3).
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "ansible-core")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "find and configure VX418 AV extender units")
# The synopsis is the summary above; CPack indents these lines and marks the empty one.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "A single-window Qt program with which a network administrator finds the
VX418 Transmitters and Receivers on the local Ethernet segment and
configures them, speaking the units' management protocol through libpcap.

vx418ctl does the same jobs from a shell or a script and waits for each
unit's answer, reporting it in its exit status and, on request, as JSON.

Both run without privileges: the small capture helper vx418-capture,
which only members of the vx418 group may run, captures for them and is
the one program with a file capability (cap_net_raw). The package also
holds vx418-sim, which plays simulated units for a test lab, and the Ansible
collection vx418.av, whose modules drive vx418ctl on a station of each
segment.")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
    ${VX_PACKAGING_DIR}/debian/postinst ${VX_PACKAGING_DIR}/debian/prerm
    ${VX_PACKAGING_DIR}/debian/postrm)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)
