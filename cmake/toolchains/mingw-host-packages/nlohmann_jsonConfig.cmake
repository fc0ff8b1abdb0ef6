include(${CMAKE_CURRENT_LIST_DIR}/HostHeaders.cmake)
vx_host_header_target(nlohmann_json::nlohmann_json nlohmann)
set(nlohmann_json_FOUND TRUE)
