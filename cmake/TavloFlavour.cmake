# One flavour of the program: a static library per layer, the program and its
# tests, all linked against one Qt major version.
function(tavlo_add_flavour)
  cmake_parse_arguments(F "" "QT;PROGRAM;SUFFIX" "" ${ARGN})
  set(qt Qt${F_QT})
  set(src ${PROJECT_SOURCE_DIR})

  # The file layer under the agenda: locked reads, crash-safe replacement,
  # copies, the names of what it makes, recovery after a cut-off save.
  set(files tavlo_files_${F_SUFFIX})
  add_library(${files} STATIC
    ${src}/store/files/fileio.cpp
    ${src}/store/files/lockedfile.cpp
    ${src}/store/files/copies.cpp
    ${src}/store/files/temporary.cpp
    ${src}/store/files/inplace.cpp
    ${src}/store/files/safefile.cpp
    ${src}/store/files/filenames.cpp
    ${src}/store/files/backup.cpp
    ${src}/store/files/recovery.cpp
    ${src}/store/files/folderwatch.cpp)
  target_include_directories(${files} PUBLIC ${src})
  target_link_libraries(${files} PUBLIC ${qt}::Core)
  add_dependencies(${files} tavlo_include_order)
  tavlo_warnings(${files})

  # The agenda file: Qt Core only, no widgets.
  set(store tavlo_store_${F_SUFFIX})
  add_library(${store} STATIC
    ${src}/store/codepage.cpp
    ${src}/store/memo.cpp
    ${src}/store/profile.cpp
    ${src}/store/agendafile.cpp
    ${src}/store/loadedmemo.cpp
    ${src}/store/search.cpp
    ${src}/store/merge.cpp)
  target_link_libraries(${store} PUBLIC ${files})
  tavlo_warnings(${store})

  # The single running copy, the display servers, the clock: Qt Gui, no widgets.
  set(platform tavlo_platform_${F_SUFFIX})
  add_library(${platform} STATIC
    ${src}/platform/clock.cpp
    ${src}/platform/displayserver.cpp
    ${src}/platform/singleinstance.cpp
    ${src}/platform/windowactivation.cpp
    ${src}/platform/xconnection.cpp)
  target_link_libraries(${platform} PUBLIC ${store} ${qt}::Gui tavlo_xdg_activation ${XCB_LIBRARY})
  if(F_QT EQUAL 5)
    # Qt 5 has no activation tokens; the program sends its own on Qt's connection.
    target_include_directories(${platform} PRIVATE ${Qt5Gui_PRIVATE_INCLUDE_DIRS})
  endif()
  tavlo_warnings(${platform})

  # Windows and dialogs, and what they share.
  set(ui tavlo_ui_${F_SUFFIX})
  add_library(${ui} STATIC
    ${src}/ui/classic/fonts.cpp
    ${src}/ui/classic/keycodes.cpp
    ${src}/ui/classic/messagebox.cpp
    ${src}/ui/classic/editortext.cpp
    ${src}/ui/style/quietscrollbar.cpp
    ${src}/ui/style/focusstyle.cpp
    ${src}/ui/style/windowframe.cpp
    ${src}/ui/style/windowicon.cpp
    ${src}/ui/style/accessibility.cpp
    ${src}/ui/main/datelist.cpp
    ${src}/ui/main/failuretext.cpp
    ${src}/ui/main/form1.cpp
    ${src}/ui/dialogs/datecheck.cpp
    ${src}/ui/dialogs/form2.cpp
    ${src}/ui/dialogs/form3.cpp
    ${src}/ui/dialogs/form4.cpp
    ${src}/ui/dialogs/numberreader.cpp
    ${src}/packaging/tavlo.qrc)
  target_link_libraries(${ui} PUBLIC ${platform} ${qt}::Widgets Threads::Threads)
  tavlo_warnings(${ui})

  # Start-up.
  set(app tavlo_app_${F_SUFFIX})
  add_library(${app} STATIC
    ${src}/app/startupwork.cpp
    ${src}/app/module1.cpp)
  # Docks find the desktop entry by this name; each program has its own.
  target_compile_definitions(${app} PRIVATE TAVLO_PROGRAM_NAME="${F_PROGRAM}" TAVLO_VERSION="${PROJECT_VERSION}")
  target_link_libraries(${app} PUBLIC ${ui} Fontconfig::Fontconfig)
  tavlo_warnings(${app})
  set(core ${app})

  add_executable(${F_PROGRAM} ${src}/app/main.cpp)
  target_link_libraries(${F_PROGRAM} PRIVATE ${core})
  tavlo_warnings(${F_PROGRAM})
  install(TARGETS ${F_PROGRAM} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  # The guide the About box names, beside the program as it is built (the
  # packages put it in their documentation folders).
  add_custom_command(TARGET ${F_PROGRAM} POST_BUILD
    COMMAND ${CMAKE_COMMAND} -E copy_if_different ${src}/packaging/読んで☆.txt $<TARGET_FILE_DIR:${F_PROGRAM}>
    VERBATIM)

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

# Rooms, lowest first: a source may include from its own room and the ones
# before it, never from a later one.
set(TAVLO_ROOMS store/files store platform ui/style ui/classic ui/dialogs ui/main app)

# Checked on every build, before anything is compiled.
function(tavlo_check_include_direction)
  add_custom_target(tavlo_include_order ALL
    COMMAND ${CMAKE_COMMAND} -DSRC=${PROJECT_SOURCE_DIR} "-DROOMS=${TAVLO_ROOMS}"
            -P ${PROJECT_SOURCE_DIR}/cmake/CheckIncludes.cmake
    VERBATIM)
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
  list(LENGTH tests cells)
  math(EXPR last "${cells} - 1")
  foreach(at RANGE 0 ${last} 2)
    math(EXPR next "${at} + 1")
    list(GET tests ${at} t)
    list(GET tests ${next} needs)
    get_filename_component(name ${t} NAME)
    set(exe ${name}_${suffix})
    # The sanitizers' own interposition and the shim's do not mix.
    if(needs STREQUAL "failing_io" AND TAVLO_SANITIZE)
      continue()
    endif()
    add_executable(${exe} ${src}/tests/${t}.cpp)
    target_include_directories(${exe} PRIVATE ${src}/tests)
    target_link_libraries(${exe} PRIVATE ${core} ${qt}::Test)
    set(run "")
    set(env "QT_QPA_PLATFORM=offscreen;LC_ALL=C.UTF-8")
    set(cost 1)
    if(needs STREQUAL "failing_io")
      add_dependencies(${exe} failing_io)
      list(APPEND env "LD_PRELOAD=$<TARGET_FILE:failing_io>")
      # The longest of these, all processor: started first, beside the
      # whole-program suites, at the lowest priority (see
      # tests/e2e/CMakeLists.txt).
      set(run nice -n 19)
      set(cost 250)
    endif()
    add_test(NAME ${name}_${suffix} COMMAND ${run} $<TARGET_FILE:${exe}>)
    set_tests_properties(${name}_${suffix} PROPERTIES
      ENVIRONMENT "${env}" TIMEOUT 1200 LABELS "${suffix}" COST ${cost})
  endforeach()
endfunction()
