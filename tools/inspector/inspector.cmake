# qarv-inspector, the host tool that lists what a built launcher carries, and its test against this
# build's launcher. Built with the host compiler through ExternalProject, like the packer
# (tools/packer/payload.cmake). Included by the top-level CMakeLists.txt after enable_testing().
include(ExternalProject)

# Or the one built outside this tree, in QARV_HOST_TOOLS_DIR (tools/packer/payload.cmake).
if(QARV_HOST_TOOLS_DIR STREQUAL "")
  set(QARV_INSPECTOR_DIR ${CMAKE_BINARY_DIR}/host/inspector)
  ExternalProject_Add(qarv_inspector_host
    SOURCE_DIR ${CMAKE_SOURCE_DIR}/tools/inspector
    BINARY_DIR ${QARV_INSPECTOR_DIR}
    CMAKE_ARGS -DCMAKE_BUILD_TYPE=Release -DCMAKE_CXX_COMPILER=c++ -DQARV_SOURCE_ROOT=${CMAKE_SOURCE_DIR}
    INSTALL_COMMAND ""
    BUILD_ALWAYS ON
    BUILD_BYPRODUCTS ${QARV_INSPECTOR_DIR}/qarv-inspector)
else()
  set(QARV_INSPECTOR_DIR ${QARV_HOST_TOOLS_DIR}/inspector)
  add_custom_target(qarv_inspector_host ALL COMMAND ${CMAKE_COMMAND} -E env --unset=MAKEFLAGS ${CMAKE_COMMAND} --build ${QARV_INSPECTOR_DIR}
                    BYPRODUCTS ${QARV_INSPECTOR_DIR}/qarv-inspector VERBATIM)
endif()
set(QARV_INSPECTOR ${QARV_INSPECTOR_DIR}/qarv-inspector)

# With the demo payload the test also checks the listing against the packer's staging folder.
if(QARV_PAYLOAD_SOURCE STREQUAL "")
  set(QARV_INSPECTOR_DEMO_STAGE ${QARV_PAYLOAD_DIR}/demo)
else()
  set(QARV_INSPECTOR_DEMO_STAGE -)
endif()
add_test(NAME inspector_launcher
         COMMAND sh ${CMAKE_SOURCE_DIR}/tests/inspector/inspector_test.sh ${QARV_INSPECTOR}
                 $<TARGET_FILE:launcher> ${CMAKE_SYSTEM_PROCESSOR} ${QARV_PAYLOAD_FILE} $<TARGET_FILE:tracecap>
                 ${QARV_INSPECTOR_DEMO_STAGE} ${CMAKE_CURRENT_BINARY_DIR}/inspector-test)
set_tests_properties(inspector_launcher PROPERTIES TIMEOUT 300)

# The host tools' tests run once more on builds with AddressSanitizer and UndefinedBehaviorSanitizer
# (scripts/lib.sh, qarv_build_sanitized_host_tools). A finding ends the tool with status 99, which
# no test takes for an answer; a leak counts as a finding.
set(QARV_SANITIZED_TOOLS_DIR "" CACHE PATH
    "Host tools built with sanitizers (packer/qarv-packer, inspector/qarv-inspector); empty: no sanitized runs")
set(QARV_SANITIZER_ENVIRONMENT "ASAN_OPTIONS=exitcode=99:detect_leaks=1"
    "UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1:exitcode=99")
if(NOT QARV_SANITIZED_TOOLS_DIR STREQUAL "")
  add_test(NAME inspector_launcher_sanitized
           COMMAND sh ${CMAKE_SOURCE_DIR}/tests/inspector/inspector_test.sh ${QARV_SANITIZED_TOOLS_DIR}/inspector/qarv-inspector
                   $<TARGET_FILE:launcher> ${CMAKE_SYSTEM_PROCESSOR} ${QARV_PAYLOAD_FILE} $<TARGET_FILE:tracecap>
                   ${QARV_INSPECTOR_DEMO_STAGE} ${CMAKE_CURRENT_BINARY_DIR}/inspector-test-sanitized)
  set_tests_properties(inspector_launcher_sanitized PROPERTIES TIMEOUT 600
                       ENVIRONMENT "${QARV_SANITIZER_ENVIRONMENT}")
endif()

# The same tool as a Windows console program, for inspecting a launcher on a Windows machine: one
# static file, with zlib from the MinGW zlib package (libz-mingw-w64-dev); it extracts through the
# system's own Cabinet.dll, loaded at run time by its full path as the launcher loads it
# (common/system_library.cpp).
find_path(QARV_MINGW_ZLIB_INCLUDE zlib.h)
find_library(QARV_MINGW_ZLIB NAMES libz.a)
if(QARV_MINGW_ZLIB_INCLUDE AND QARV_MINGW_ZLIB)
  include(${CMAKE_SOURCE_DIR}/tools/cabinet/cabinet.cmake)
  add_executable(qarv_inspector ${CMAKE_SOURCE_DIR}/tools/inspector/inspector_main.cpp
                 ${CMAKE_SOURCE_DIR}/tools/inspector/pe_layout.cpp ${CMAKE_SOURCE_DIR}/tools/inspector/pe_resources.cpp
                 ${CMAKE_SOURCE_DIR}/tools/inspector/cabinet_data.cpp
                 ${CMAKE_SOURCE_DIR}/tools/inspector/cabinet_extraction_fdi.cpp ${CMAKE_SOURCE_DIR}/common/system_library.cpp
                 ${CMAKE_SOURCE_DIR}/tools/inspector/authenticode.cpp ${CMAKE_SOURCE_DIR}/tools/inspector/signature_report.cpp)
  set_target_properties(qarv_inspector PROPERTIES OUTPUT_NAME qarv-inspector)
  # Tested in the x86_64 tree; the i686 tree builds it only when asked for by name.
  if(CMAKE_SYSTEM_PROCESSOR STREQUAL "i686")
    set_target_properties(qarv_inspector qarv_tools_cabinet PROPERTIES EXCLUDE_FROM_ALL ON)
  endif()
  target_include_directories(qarv_inspector PRIVATE ${CMAKE_SOURCE_DIR}/tools/inspector ${QARV_MINGW_ZLIB_INCLUDE})
  # CryptoAPI digests and the C99 printf family (64-bit and size_t values) come with the shared code.
  target_link_libraries(qarv_inspector PRIVATE qarv_tools_cabinet ${QARV_MINGW_ZLIB})
  target_link_options(qarv_inspector PRIVATE ${QARV_STATIC_LINK} ${QARV_REPRODUCIBLE_LINK})
  # Under Wine (x86_64 only): the Windows build must report what the host build reports.
  if(QARV_BUILD_TESTS AND CMAKE_SYSTEM_PROCESSOR STREQUAL "x86_64")
    add_test(NAME inspector_windows_build
             COMMAND sh ${CMAKE_SOURCE_DIR}/tests/inspector/windows_build_test.sh ${CMAKE_BINARY_DIR}/wine-run.sh
                     $<TARGET_FILE:qarv_inspector> ${QARV_INSPECTOR} $<TARGET_FILE:launcher> $<TARGET_FILE:tracecap>
                     ${CMAKE_CURRENT_BINARY_DIR}/inspector-windows-test)
    set_tests_properties(inspector_windows_build PROPERTIES TIMEOUT 120)
  endif()
else()
  message(WARNING "No MinGW zlib (Debian package libz-mingw-w64-dev): the Windows build of qarv-inspector is skipped")
endif()
