# What the Windows build stands on, as the same targets the Linux build finds as packages:
# Debian's header-only libraries through a folder that holds only them, OpenSSL built by
# scripts/build-openssl-mingw, GoogleTest from its Debian sources, and wine64 to run the programs.

set(ORGKAT_OPENSSL_ROOT "" CACHE PATH "OpenSSL for MinGW: a folder with include/ and lib/ (scripts/build-openssl-mingw)")
if(NOT EXISTS "${ORGKAT_OPENSSL_ROOT}/lib/libssl.a")
  message(FATAL_ERROR "ORGKAT_OPENSSL_ROOT must name the output of scripts/build-openssl-mingw (./run windows does this)")
endif()

# The cross compiler must never see /usr/include itself: its C library headers are Linux's.
set(header_dir "${CMAKE_BINARY_DIR}/host-headers")
file(MAKE_DIRECTORY "${header_dir}")
foreach(name boost nlohmann CLI)
  if(NOT EXISTS "/usr/include/${name}")
    message(FATAL_ERROR "/usr/include/${name} is missing (scripts/install-deps)")
  endif()
  file(CREATE_LINK "/usr/include/${name}" "${header_dir}/${name}" SYMBOLIC)
endforeach()

target_compile_definitions(orgkat_flags INTERFACE _WIN32_WINNT=0x0601 WIN32_LEAN_AND_MEAN NOMINMAX)
# Each program stands alone: no MinGW runtime DLLs beside it.
target_link_options(orgkat_flags INTERFACE -static)

add_library(Boost::headers INTERFACE IMPORTED)
target_include_directories(Boost::headers SYSTEM INTERFACE "${header_dir}")
# Boost 1.74's asio/awaitable.hpp uses std::exchange without including <utility>; GCC 12's
# headers no longer bring it in on the way.
target_compile_options(Boost::headers INTERFACE "SHELL:-include utility")
target_link_libraries(Boost::headers INTERFACE ws2_32 mswsock)
add_library(nlohmann_json::nlohmann_json INTERFACE IMPORTED)
target_include_directories(nlohmann_json::nlohmann_json SYSTEM INTERFACE "${header_dir}")
add_library(CLI11::CLI11 INTERFACE IMPORTED)
target_include_directories(CLI11::CLI11 SYSTEM INTERFACE "${header_dir}")

add_library(OpenSSL::Crypto STATIC IMPORTED)
set_target_properties(OpenSSL::Crypto PROPERTIES
  IMPORTED_LOCATION "${ORGKAT_OPENSSL_ROOT}/lib/libcrypto.a"
  INTERFACE_INCLUDE_DIRECTORIES "${ORGKAT_OPENSSL_ROOT}/include"
  INTERFACE_LINK_LIBRARIES "ws2_32;crypt32")
add_library(OpenSSL::SSL STATIC IMPORTED)
set_target_properties(OpenSSL::SSL PROPERTIES
  IMPORTED_LOCATION "${ORGKAT_OPENSSL_ROOT}/lib/libssl.a"
  INTERFACE_INCLUDE_DIRECTORIES "${ORGKAT_OPENSSL_ROOT}/include"
  INTERFACE_LINK_LIBRARIES OpenSSL::Crypto)

if(ORGKAT_TESTS)
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  # Its project defines GTest::gtest, GTest::gmock and GTest::gtest_main itself.
  add_subdirectory(/usr/src/googletest "${CMAKE_BINARY_DIR}/googletest" EXCLUDE_FROM_ALL SYSTEM)
endif()

# The programs run as on a Russian system (ANSI code page 1251, Russian date and time formats):
# Wine takes its locale from the Unix one, compiled here from the locales package's sources so
# that the machine's own locale set stays as it is.
set(wine_locale_dir "${CMAKE_BINARY_DIR}/locale")
if(NOT EXISTS "${wine_locale_dir}/ru_RU.UTF-8/LC_CTYPE")
  file(MAKE_DIRECTORY "${wine_locale_dir}")
  execute_process(COMMAND localedef -i ru_RU -f UTF-8 "${wine_locale_dir}/ru_RU.UTF-8"
                  RESULT_VARIABLE localedef_status OUTPUT_QUIET ERROR_QUIET)
  if(NOT EXISTS "${wine_locale_dir}/ru_RU.UTF-8/LC_CTYPE")
    message(FATAL_ERROR "localedef could not compile ru_RU.UTF-8 (package locales, scripts/install-deps)")
  endif()
endif()

# Every test and every program run by the build goes through wine64 in a prefix of the build's own.
configure_file("${CMAKE_CURRENT_LIST_DIR}/wine-run.in" "${CMAKE_BINARY_DIR}/wine-run" @ONLY
               FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE
                                WORLD_READ WORLD_EXECUTE)
set(CMAKE_CROSSCOMPILING_EMULATOR "${CMAKE_BINARY_DIR}/wine-run")
