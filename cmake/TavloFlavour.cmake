# One flavour of the program: a static library per layer, the program and its
# tests, all linked against one Qt major version.
function(tavlo_add_flavour)
  cmake_parse_arguments(F "" "QT;PROGRAM;SUFFIX" "" ${ARGN})
  set(qt Qt${F_QT})
  set(src ${PROJECT_SOURCE_DIR})

  # The agenda file: Qt Core only, no widgets.
  set(store tavlo_store_${F_SUFFIX})
  add_library(${store} STATIC
    ${src}/store/codepage.cpp
    ${src}/store/memo.cpp
    ${src}/store/profile.cpp
    ${src}/store/safefile.cpp
    ${src}/store/agendafile.cpp
    ${src}/store/filenames.cpp
    ${src}/store/backup.cpp
    ${src}/store/recovery.cpp)
  target_include_directories(${store} PUBLIC ${src})
  target_link_libraries(${store} PUBLIC ${qt}::Core)
  tavlo_warnings(${store})

  # Windows, dialogs, start-up.
  set(core tavlo_core_${F_SUFFIX})
  add_library(${core} STATIC
    ${src}/ui/clock.cpp
    ${src}/ui/fonts.cpp
    ${src}/ui/keycodes.cpp
    ${src}/ui/messagebox.cpp
    ${src}/ui/editortext.cpp
    ${src}/ui/quietscrollbar.cpp
    ${src}/ui/focusstyle.cpp
    ${src}/ui/windowframe.cpp
    ${src}/ui/accessibility.cpp
    ${src}/ui/windowactivation.cpp
    ${src}/platform/displayserver.cpp
    ${src}/ui/main/datelist.cpp
    ${src}/ui/main/form1.cpp
    ${src}/ui/dialogs/datecheck.cpp
    ${src}/ui/dialogs/form2.cpp
    ${src}/ui/dialogs/form3.cpp
    ${src}/ui/dialogs/numberreader.cpp
    ${src}/app/startupwork.cpp
    ${src}/app/module1.cpp
    ${src}/app/singleinstance.cpp
    ${src}/packaging/tavlo.qrc)
  # Docks find the desktop entry by this name; each program has its own.
  target_compile_definitions(${core} PRIVATE TAVLO_PROGRAM_NAME="${F_PROGRAM}")
  target_link_libraries(${core} PUBLIC ${store} ${qt}::Widgets Fontconfig::Fontconfig Threads::Threads
    tavlo_xdg_activation)
  if(F_QT EQUAL 5)
    # Qt 5 has no activation tokens; the program sends its own on Qt's connection.
    target_include_directories(${core} PRIVATE ${Qt5Gui_PRIVATE_INCLUDE_DIRS})
  endif()
  # Activation on X with the server's time; the classic build's look at the
  # desktop's font resolution.
  find_library(XCB_LIBRARY xcb REQUIRED)
  target_link_libraries(${core} PUBLIC ${XCB_LIBRARY})
  tavlo_warnings(${core})

  add_executable(${F_PROGRAM} ${src}/app/main.cpp)
  target_link_libraries(${F_PROGRAM} PRIVATE ${core})
  tavlo_warnings(${F_PROGRAM})
  install(TARGETS ${F_PROGRAM} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

  if(TAVLO_BUILD_TESTS)
    tavlo_add_tests(${F_SUFFIX} ${qt} ${core})
  endif()
  if(TAVLO_BUILD_BENCH)
    add_executable(bench_store_${F_SUFFIX} ${src}/bench/bench_store.cpp)
    target_link_libraries(bench_store_${F_SUFFIX} PRIVATE ${store})
    add_executable(bench_empty_window_${F_SUFFIX} ${src}/bench/empty_window.cpp)
    target_link_libraries(bench_empty_window_${F_SUFFIX} PRIVATE ${qt}::Widgets)
    add_executable(bench_form_window_${F_SUFFIX} ${src}/bench/form_window.cpp)
    target_link_libraries(bench_form_window_${F_SUFFIX} PRIVATE ${core})
  endif()
endfunction()

function(tavlo_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic)
endfunction()

# A Qt Test executable per source file, registered with CTest under the
# flavour's suffix so both builds' results stand side by side.
function(tavlo_add_tests suffix qt core)
  set(src ${PROJECT_SOURCE_DIR})
  set(tests ${TAVLO_TESTS})
  if(NOT TARGET failing_io)
    add_library(failing_io SHARED ${src}/tests/faults/failing_io.c)
    target_link_libraries(failing_io PRIVATE ${CMAKE_DL_LIBS})
  endif()
  foreach(t IN LISTS tests)
    get_filename_component(name ${t} NAME)
    set(exe ${name}_${suffix})
    add_executable(${exe} ${src}/tests/${t}.cpp)
    target_include_directories(${exe} PRIVATE ${src}/tests)
    target_link_libraries(${exe} PRIVATE ${core} ${qt}::Test)
    add_test(NAME ${name}_${suffix} COMMAND ${exe})
    set(env "QT_QPA_PLATFORM=offscreen;LC_ALL=C.UTF-8")
    # The fault tests count and fail system calls through a preloaded shim.
    if(t MATCHES "^faults/" AND NOT TAVLO_SANITIZE)
      list(APPEND env "LD_PRELOAD=$<TARGET_FILE:failing_io>")
    endif()
    set_tests_properties(${name}_${suffix} PROPERTIES
      ENVIRONMENT "${env}" TIMEOUT 1200 LABELS "${suffix}")
  endforeach()
endfunction()
