# The version is project()'s alone (CMakeLists.txt). Everything that shows it is written from it
# here, at configure time: the header the programs and tests include (target vx_version), the
# About box's Qt form and the Windows resource script (dialog templates and file version) from
# their templates in res/qt/ and res/win32/ (res/gen_forms.py writes those), and, in packaging/, the MSI, the
# Debian changelog and the AppStream release.
set(VX_GENERATED_DIR ${PROJECT_BINARY_DIR}/generated)
configure_file(${PROJECT_SOURCE_DIR}/cmake/vx418_version.h.in
               ${VX_GENERATED_DIR}/vx418_version.h @ONLY)
configure_file(${PROJECT_SOURCE_DIR}/res/qt/about_dlg.ui.in ${VX_GENERATED_DIR}/about_dlg.ui @ONLY)
configure_file(${PROJECT_SOURCE_DIR}/res/win32/vx418.rc.in ${VX_GENERATED_DIR}/vx418.rc @ONLY)

add_library(vx_version INTERFACE)
target_include_directories(vx_version INTERFACE ${VX_GENERATED_DIR})
