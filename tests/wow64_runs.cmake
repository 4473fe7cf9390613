# The launcher that ships (i686) run for real under WoW64: the launcher-run scenarios of the x86_64
# tests, the same sources, compiled 32-bit. Their registry helpers then read and write the 32-bit
# view (HKLM\SOFTWARE\WOW6432Node to 64-bit programs), the stand-ins of the previous generation
# and the planted DLL are 32-bit, and regsvr32 is the system's 32-bit one (syswow64).
# Every test is named I686.<suite>.<test> and labelled wow64; scripts/test leaves the label out
# where the machine cannot run 32-bit code.
add_executable(wow64_launcher_tests
  ${CMAKE_CURRENT_SOURCE_DIR}/launcher/complete_run_test.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/launcher/trace_gate_test.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/launcher/installed_launcher_test.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/launcher/failure_run_test.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/launcher/interrupted_run_test.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/launcher/planted_dll_test.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/app/disk_space_run_test.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/launcher/legacy_launcher_run_test.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/launcher/large_payload_run_test.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/launcher/junction_swap_test.cpp
  ${QARV_RESOURCE_SCRIPT})
target_link_libraries(wow64_launcher_tests PRIVATE launcher_core test_support gtest_main)
target_link_options(wow64_launcher_tests PRIVATE ${QARV_STATIC_LINK})
add_dependencies(wow64_launcher_tests launcher planted_marker prevgen_layout)
# The trace gate's off cases are the same code in either view; its on case shows the seven lines.
gtest_discover_tests(wow64_launcher_tests TEST_PREFIX "I686."
  TEST_FILTER "-TraceGateTest.OffInEveryFormWritesNothing:JunctionSwap.*"
  DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 60 PROPERTIES TIMEOUT 180 LABELS wow64)
add_test(NAME I686.launcher_junction_swap
         COMMAND sh ${CMAKE_CURRENT_SOURCE_DIR}/launcher/junction_swap.sh ${QARV_WINEPREFIX}
                 ${CMAKE_BINARY_DIR}/wine-run.sh $<TARGET_FILE:wow64_launcher_tests> "JunctionSwap.*")
set_tests_properties(I686.launcher_junction_swap PROPERTIES RUN_SERIAL TRUE TIMEOUT 180 LABELS wow64)
