# libssh: one static build per target, made by scripts/build-libssh.sh from Debian's source
# packages into build/libssh/<target> (run here when missing). Natively libssh uses OpenSSL; for
# Windows it uses the libgcrypt built beside it, whose gcrypt.h our own code includes too.
if(WIN32)
  set(_libssh_target "${TAVRIN_MINGW_TRIPLE}")
else()
  set(_libssh_target linux)
endif()
set(TAVRIN_LIBSSH_PREFIX "${CMAKE_SOURCE_DIR}/build/libssh/${_libssh_target}" CACHE PATH
    "Where the static libssh (and for Windows libgcrypt) is installed")

set(_libssh_libraries "${TAVRIN_LIBSSH_PREFIX}/lib/libssh.a")
if(WIN32)
  list(APPEND _libssh_libraries "${TAVRIN_LIBSSH_PREFIX}/lib/libgcrypt.a"
       "${TAVRIN_LIBSSH_PREFIX}/lib/libgpg-error.a")
endif()
set(_libssh_missing OFF)
foreach(_file IN LISTS _libssh_libraries ITEMS "${TAVRIN_LIBSSH_PREFIX}/VERSION")
  if(NOT EXISTS "${_file}")
    set(_libssh_missing ON)
  endif()
endforeach()
if(_libssh_missing)
  message(STATUS "libssh for ${_libssh_target} not found; building it")
  execute_process(COMMAND bash "${CMAKE_SOURCE_DIR}/scripts/build-libssh.sh" ${_libssh_target}
                  RESULT_VARIABLE _libssh_rc)
  if(NOT _libssh_rc EQUAL 0)
    message(FATAL_ERROR "building libssh for ${_libssh_target} failed")
  endif()
endif()
file(STRINGS "${TAVRIN_LIBSSH_PREFIX}/VERSION" _libssh_version LIMIT_COUNT 1)
# A rebuilt libssh (a new VERSION) configures the project again.
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS "${TAVRIN_LIBSSH_PREFIX}/VERSION")
message(STATUS "libssh: ${_libssh_version} (${TAVRIN_LIBSSH_PREFIX})")

add_library(tavrin_libssh INTERFACE)
# Before the system's folders: the MinGW sysroot or /usr/include may hold an older libssh or
# gcrypt.h.
target_include_directories(tavrin_libssh INTERFACE "${TAVRIN_LIBSSH_PREFIX}/include")
target_compile_definitions(tavrin_libssh INTERFACE LIBSSH_STATIC)
if(WIN32)
  target_link_libraries(tavrin_libssh INTERFACE ${_libssh_libraries} ws2_32 iphlpapi bcrypt pthread)
else()
  find_package(OpenSSL 3 REQUIRED)
  find_package(Threads REQUIRED)
  target_link_libraries(tavrin_libssh INTERFACE ${_libssh_libraries} OpenSSL::Crypto Threads::Threads)
  # libssh's crypto backend here; ssh/library.cpp frees its per-thread state.
  target_compile_definitions(tavrin_libssh INTERFACE TAVRIN_LIBSSH_OPENSSL)
endif()
