# PCRE2's 16-bit library (UTF-16 code units, as the core's texts): `tavrin_pcre2` gives
# <pcre2.h> with PCRE2_CODE_UNIT_WIDTH=16. Natively Debian 12's libpcre2-16 (package
# libpcre2-dev, through pkg-config); for Windows one static build per target, made by
# scripts/build-pcre2.sh from Debian's source package into build/pcre2/<target>. The script runs
# at every configure: it returns at once when the install matches what it would build, and
# rebuilds when its pin or options have changed.
get_filename_component(_pcre2_root "${CMAKE_CURRENT_LIST_DIR}/.." ABSOLUTE)
add_library(tavrin_pcre2 INTERFACE)
target_compile_definitions(tavrin_pcre2 INTERFACE PCRE2_CODE_UNIT_WIDTH=16)

if(WIN32)
  set(TAVRIN_PCRE2_PREFIX "${_pcre2_root}/build/pcre2/${TAVRIN_MINGW_TRIPLE}" CACHE PATH
      "Where the static PCRE2 16-bit library for Windows is installed")
  set(_pcre2_script "${_pcre2_root}/scripts/build-pcre2.sh")
  if(TAVRIN_PCRE2_PREFIX STREQUAL "${_pcre2_root}/build/pcre2/${TAVRIN_MINGW_TRIPLE}")
    execute_process(COMMAND bash "${_pcre2_script}" ${TAVRIN_MINGW_TRIPLE}
                    RESULT_VARIABLE _pcre2_rc)
    if(NOT _pcre2_rc EQUAL 0)
      message(FATAL_ERROR "building PCRE2 for ${TAVRIN_MINGW_TRIPLE} failed")
    endif()
  endif()
  foreach(_file IN ITEMS "${TAVRIN_PCRE2_PREFIX}/lib/libpcre2-16.a"
                         "${TAVRIN_PCRE2_PREFIX}/include/pcre2.h" "${TAVRIN_PCRE2_PREFIX}/VERSION")
    if(NOT EXISTS "${_file}")
      message(FATAL_ERROR "PCRE2: ${_file} is missing")
    endif()
  endforeach()
  file(STRINGS "${TAVRIN_PCRE2_PREFIX}/VERSION" _pcre2_version LIMIT_COUNT 1)
  # A changed script or a rebuilt library (a new VERSION) configures the project again.
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS "${_pcre2_script}"
               "${TAVRIN_PCRE2_PREFIX}/VERSION")
  message(STATUS "PCRE2: ${_pcre2_version} (${TAVRIN_PCRE2_PREFIX})")

  # Before the system's folders: the MinGW sysroot may hold a pcre2.h of its own.
  target_include_directories(tavrin_pcre2 INTERFACE "${TAVRIN_PCRE2_PREFIX}/include")
  # The static library: no __declspec(dllimport) on PCRE2's functions.
  target_compile_definitions(tavrin_pcre2 INTERFACE PCRE2_STATIC)
  target_link_libraries(tavrin_pcre2 INTERFACE "${TAVRIN_PCRE2_PREFIX}/lib/libpcre2-16.a")
else()
  find_package(PkgConfig REQUIRED)
  pkg_check_modules(PCRE2_16 REQUIRED IMPORTED_TARGET libpcre2-16)
  message(STATUS "PCRE2: ${PCRE2_16_VERSION} (pkg-config libpcre2-16)")
  target_link_libraries(tavrin_pcre2 INTERFACE PkgConfig::PCRE2_16)
endif()
