# qarv-inspector, the host tool that lists what a built launcher carries, and its test against this
# build's launcher. Built with the host compiler through ExternalProject, like the packer
# (tools/packer/payload.cmake). Included by the top-level CMakeLists.txt after enable_testing().
include(ExternalProject)

set(QARV_INSPECTOR_DIR ${CMAKE_BINARY_DIR}/host/inspector)
set(QARV_INSPECTOR ${QARV_INSPECTOR_DIR}/qarv-inspector)
ExternalProject_Add(qarv_inspector_host
  SOURCE_DIR ${CMAKE_SOURCE_DIR}/tools/inspector
  BINARY_DIR ${QARV_INSPECTOR_DIR}
  CMAKE_ARGS -DCMAKE_BUILD_TYPE=Release -DCMAKE_CXX_COMPILER=c++ -DQARV_SOURCE_ROOT=${CMAKE_SOURCE_DIR}
  INSTALL_COMMAND ""
  BUILD_ALWAYS ON
  BUILD_BYPRODUCTS ${QARV_INSPECTOR})

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
