include(${CMAKE_CURRENT_LIST_DIR}/HostHeaders.cmake)
vx_host_header_target(CLI11::CLI11 CLI)
set(CLI11_FOUND TRUE)
