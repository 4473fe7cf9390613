# The launcher's payload (RT_RCDATA 129). The host packer is built with the host compiler; it
# makes the payload from QARV_PAYLOAD_SOURCE, or from the demo installer when that is empty.
# Included by the top-level CMakeLists.txt after the launcher target; sets QARV_PAYLOAD_FILE and
# the target qarv_payload.
include(ExternalProject)

set(QARV_PAYLOAD_SOURCE "" CACHE PATH
    "The installer to carry: a cabinet file, or a folder of installer files; empty for the demo payload")
set(QARV_PAYLOAD_PROGRAM "" CACHE STRING "With a folder: the file name of the program to start")

# Both cross trees of one run can share host tools built once outside them (scripts/lib.sh,
# qarv_build_host_tools): a folder holding packer/qarv-packer and inspector/qarv-inspector.
set(QARV_HOST_TOOLS_DIR "" CACHE PATH
    "Host tools built outside this tree (packer/qarv-packer, inspector/qarv-inspector); empty: this tree builds them")
if(QARV_HOST_TOOLS_DIR STREQUAL "")
  set(QARV_PACKER_DIR ${CMAKE_BINARY_DIR}/host/packer)
else()
  set(QARV_PACKER_DIR ${QARV_HOST_TOOLS_DIR}/packer)
endif()
set(QARV_PACKER ${QARV_PACKER_DIR}/qarv-packer)
if(QARV_HOST_TOOLS_DIR STREQUAL "")
  # The tool's own build knows its sources; ExternalProject does not. BUILD_ALWAYS hands it the
  # decision on every build (a no-op when nothing changed), and the payload, which depends on the
  # packer's file, is made again only when the packer was relinked.
  ExternalProject_Add(qarv_packer_host
    SOURCE_DIR ${CMAKE_SOURCE_DIR}/tools/packer
    BINARY_DIR ${QARV_PACKER_DIR}
    CMAKE_ARGS -DCMAKE_BUILD_TYPE=Release -DCMAKE_CXX_COMPILER=c++ -DQARV_SOURCE_ROOT=${CMAKE_SOURCE_DIR}
    INSTALL_COMMAND ""
    BUILD_ALWAYS ON
    BUILD_BYPRODUCTS ${QARV_PACKER})
else()
  if(NOT EXISTS ${QARV_PACKER_DIR}/CMakeCache.txt)
    message(FATAL_ERROR "QARV_HOST_TOOLS_DIR '${QARV_HOST_TOOLS_DIR}' holds no packer build: build the host tools first")
  endif()
  # Built outside, once for every tree of a run; brought up to date here as well (a no-op when
  # nothing changed), so that a tree built on its own never packs with an old packer.
  add_custom_target(qarv_packer_host COMMAND ${CMAKE_COMMAND} -E env --unset=MAKEFLAGS ${CMAKE_COMMAND} --build ${QARV_PACKER_DIR}
                    BYPRODUCTS ${QARV_PACKER} VERBATIM)
endif()

set(QARV_PAYLOAD_DIR ${CMAKE_BINARY_DIR}/payload)
set(QARV_PAYLOAD_FILE ${QARV_PAYLOAD_DIR}/qarv_payload.bin)
# The cabinet inside the payload, kept for the tests and for the release engineer to inspect.
set(QARV_PAYLOAD_CABINET ${QARV_PAYLOAD_DIR}/qarv_payload.cab)
file(MAKE_DIRECTORY ${QARV_PAYLOAD_DIR})

if(NOT QARV_PAYLOAD_SOURCE STREQUAL "" AND NOT IS_ABSOLUTE "${QARV_PAYLOAD_SOURCE}")
  message(FATAL_ERROR "QARV_PAYLOAD_SOURCE '${QARV_PAYLOAD_SOURCE}' must be an absolute path")
endif()
if(QARV_PAYLOAD_SOURCE STREQUAL "")
  add_subdirectory(${CMAKE_SOURCE_DIR}/demo ${CMAKE_BINARY_DIR}/demo-build)
  set(stage ${QARV_PAYLOAD_DIR}/demo)
  set(files ${CMAKE_SOURCE_DIR}/demo/files)
  # Fixed cabinet dates, so that the same sources give the same payload byte for byte.
  set(QARV_DEMO_PACK_ARGUMENTS --folder ${stage} --program Qarv2009Install.exe --date "2009-03-16 08:30:00"
      --attributes readme.txt=r --attributes install.ini=h)
  add_custom_command(OUTPUT ${QARV_PAYLOAD_FILE} ${QARV_PAYLOAD_CABINET}
    COMMAND ${CMAKE_COMMAND} -E rm -rf ${stage}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${stage}
    COMMAND ${CMAKE_COMMAND} -E copy $<TARGET_FILE:demo_product> ${stage}/Qarv2009.exe
    COMMAND ${CMAKE_COMMAND} -E copy $<TARGET_FILE:demo_installer> ${stage}/Qarv2009Install.exe
    COMMAND ${CMAKE_COMMAND} -E copy ${files}/readme.txt ${files}/install.ini ${stage}
    COMMAND ${QARV_PACKER} --output ${QARV_PAYLOAD_FILE} --keep-cabinet ${QARV_PAYLOAD_CABINET}
            ${QARV_DEMO_PACK_ARGUMENTS}
    DEPENDS ${QARV_PACKER} qarv_packer_host demo_product demo_installer ${files}/readme.txt ${files}/install.ini
    COMMENT "Packing the demo payload"
    VERBATIM)
elseif(IS_DIRECTORY "${QARV_PAYLOAD_SOURCE}")
  if(QARV_PAYLOAD_PROGRAM STREQUAL "")
    message(FATAL_ERROR "QARV_PAYLOAD_SOURCE is a folder: name its program to start with -DQARV_PAYLOAD_PROGRAM=<file name>")
  endif()
  file(GLOB installer_files CONFIGURE_DEPENDS "${QARV_PAYLOAD_SOURCE}/*")
  add_custom_command(OUTPUT ${QARV_PAYLOAD_FILE} ${QARV_PAYLOAD_CABINET}
    COMMAND ${QARV_PACKER} --output ${QARV_PAYLOAD_FILE} --keep-cabinet ${QARV_PAYLOAD_CABINET}
            --folder ${QARV_PAYLOAD_SOURCE} --program ${QARV_PAYLOAD_PROGRAM}
    DEPENDS ${QARV_PACKER} qarv_packer_host ${installer_files}
    COMMENT "Packing the installer folder ${QARV_PAYLOAD_SOURCE}"
    VERBATIM)
elseif(EXISTS "${QARV_PAYLOAD_SOURCE}")
  add_custom_command(OUTPUT ${QARV_PAYLOAD_FILE} ${QARV_PAYLOAD_CABINET}
    COMMAND ${QARV_PACKER} --output ${QARV_PAYLOAD_FILE} --keep-cabinet ${QARV_PAYLOAD_CABINET}
            --cabinet ${QARV_PAYLOAD_SOURCE}
    DEPENDS ${QARV_PACKER} qarv_packer_host ${QARV_PAYLOAD_SOURCE}
    COMMENT "Packing the installer cabinet ${QARV_PAYLOAD_SOURCE}"
    VERBATIM)
else()
  message(FATAL_ERROR "QARV_PAYLOAD_SOURCE '${QARV_PAYLOAD_SOURCE}' does not exist: give a cabinet file or a folder")
endif()
add_custom_target(qarv_payload DEPENDS ${QARV_PAYLOAD_FILE})

# res/launcher.rc embeds "qarv_payload.bin", found on the resource compiler's include path.
set(CMAKE_RC_FLAGS "${CMAKE_RC_FLAGS} -I${QARV_PAYLOAD_DIR}")
set_property(SOURCE ${QARV_RESOURCE_SCRIPT} APPEND PROPERTY OBJECT_DEPENDS ${QARV_PAYLOAD_FILE})
add_dependencies(launcher qarv_payload)
