# libssh: Debian's libssh-dev natively; for Windows the static build that
# scripts/build-libssh-windows.sh leaves in build/libssh/<triple>.
if(WIN32)
  set(TAVRIN_LIBSSH_PREFIX "${CMAKE_SOURCE_DIR}/build/libssh/${TAVRIN_MINGW_TRIPLE}" CACHE PATH
      "Where the static Windows libssh is installed")
  if(NOT EXISTS "${TAVRIN_LIBSSH_PREFIX}/lib/libssh.a")
    message(STATUS "libssh for ${TAVRIN_MINGW_TRIPLE} not found; building it")
    execute_process(COMMAND bash "${CMAKE_SOURCE_DIR}/scripts/build-libssh-windows.sh" ${TAVRIN_MINGW_TRIPLE}
                    RESULT_VARIABLE _libssh_rc)
    if(NOT _libssh_rc EQUAL 0)
      message(FATAL_ERROR "building libssh for ${TAVRIN_MINGW_TRIPLE} failed")
    endif()
  endif()
  add_library(tavrin_libssh INTERFACE)
  target_include_directories(tavrin_libssh INTERFACE "${TAVRIN_LIBSSH_PREFIX}/include")
  target_compile_definitions(tavrin_libssh INTERFACE LIBSSH_STATIC)
  target_link_libraries(tavrin_libssh INTERFACE "${TAVRIN_LIBSSH_PREFIX}/lib/libssh.a" gcrypt gpg-error
                        ws2_32 iphlpapi pthread)
else()
  find_package(PkgConfig REQUIRED)
  pkg_check_modules(LIBSSH REQUIRED IMPORTED_TARGET libssh)
  add_library(tavrin_libssh INTERFACE)
  target_link_libraries(tavrin_libssh INTERFACE PkgConfig::LIBSSH)
endif()
