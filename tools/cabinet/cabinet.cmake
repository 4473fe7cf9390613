# The tools' shared code: the cabinet format, the launcher's payload transform and file-name rule,
# and message digests. Included by each tool's CMake (the host builds of the packer and the
# inspector, and the inspector's Windows console build); makes the static library
# qarv_tools_cabinet once per project, with the digest implementation for the platform built for.
if(NOT TARGET qarv_tools_cabinet)
  get_filename_component(qarv_tools_root "${CMAKE_CURRENT_LIST_DIR}/../.." ABSOLUTE)
  add_library(qarv_tools_cabinet STATIC
    ${CMAKE_CURRENT_LIST_DIR}/cabinet_directory.cpp ${CMAKE_CURRENT_LIST_DIR}/cabinet_text.cpp
    ${CMAKE_CURRENT_LIST_DIR}/launcher_name_rule.cpp
    ${qarv_tools_root}/payload/file_name_rule.cpp ${qarv_tools_root}/payload/scramble_transform.cpp)
  target_include_directories(qarv_tools_cabinet PUBLIC ${CMAKE_CURRENT_LIST_DIR} ${qarv_tools_root})
  if(WIN32)
    target_sources(qarv_tools_cabinet PRIVATE ${CMAKE_CURRENT_LIST_DIR}/digest_cryptoapi.cpp)
    target_link_libraries(qarv_tools_cabinet PUBLIC advapi32)
    # The C99 printf family: the tools print 64-bit values.
    target_compile_definitions(qarv_tools_cabinet PUBLIC __USE_MINGW_ANSI_STDIO=1)
  else()
    # Nettle rather than libgcrypt: plain per-algorithm functions on a caller's context, with no
    # library-wide initialisation to get right first (docs/testing.md, "The tools' digests").
    find_path(QARV_NETTLE_INCLUDE nettle/md5.h)
    find_library(QARV_NETTLE_LIBRARY nettle)
    if(NOT QARV_NETTLE_INCLUDE OR NOT QARV_NETTLE_LIBRARY)
      message(FATAL_ERROR "Nettle not found: install Debian's nettle-dev")
    endif()
    target_sources(qarv_tools_cabinet PRIVATE ${CMAKE_CURRENT_LIST_DIR}/digest_nettle.cpp)
    target_include_directories(qarv_tools_cabinet PRIVATE ${QARV_NETTLE_INCLUDE})
    target_link_libraries(qarv_tools_cabinet PUBLIC ${QARV_NETTLE_LIBRARY})
    target_compile_options(qarv_tools_cabinet PRIVATE -Wall -Wextra)
  endif()
endif()
