# The Wayland protocol by which a window is activated with a token the
# desktop issued (xdg-activation-v1), generated from the system's protocol
# description; both programs link it.
# In a function, so that its working variables stay its own.
function(tavlo_add_xdg_activation)
  find_package(PkgConfig REQUIRED)
  pkg_check_modules(WaylandClient REQUIRED IMPORTED_TARGET wayland-client)
  pkg_get_variable(WAYLAND_PROTOCOLS_DIR wayland-protocols pkgdatadir)
  find_program(WAYLAND_SCANNER wayland-scanner REQUIRED)

  set(xml ${WAYLAND_PROTOCOLS_DIR}/staging/xdg-activation/xdg-activation-v1.xml)
  if(NOT EXISTS ${xml})
    message(FATAL_ERROR "wayland-protocols lacks xdg-activation-v1 (${xml})")
  endif()
  set(out ${CMAKE_BINARY_DIR}/wayland)
  add_custom_command(
    OUTPUT ${out}/xdg-activation-v1-client.h ${out}/xdg-activation-v1.c
    COMMAND ${CMAKE_COMMAND} -E make_directory ${out}
    COMMAND ${WAYLAND_SCANNER} client-header ${xml} ${out}/xdg-activation-v1-client.h
    COMMAND ${WAYLAND_SCANNER} private-code ${xml} ${out}/xdg-activation-v1.c
    DEPENDS ${xml}
    VERBATIM)
  add_library(tavlo_xdg_activation STATIC ${out}/xdg-activation-v1.c ${out}/xdg-activation-v1-client.h)
  target_include_directories(tavlo_xdg_activation PUBLIC ${out})
  target_link_libraries(tavlo_xdg_activation PUBLIC PkgConfig::WaylandClient)
endfunction()
tavlo_add_xdg_activation()
