# Endpoints and the runtime digest are fixed when the launcher is built and are
# never read from files, the environment or the command line at run time.
if(FERROWICK_PROFILE STREQUAL "release")
  set(_maker_download "https://downloads.ferrowick.app")
  set(_maker_web "https://ferrowick.app")
else()
  # dev: the runtime download goes to a loopback server for the local demo.
  set(_maker_download "http://127.0.0.1:48721")
  set(_maker_web "https://ferrowick.app")
endif()

set(FERROWICK_DOWNLOAD_BASE "${_maker_download}" CACHE STRING "Base URL of the runtime download server")
set(FERROWICK_WEB_BASE "${_maker_web}" CACHE STRING "Base URL of the maker's web site")
set(FERROWICK_WINE_SHA256 "111a7b6b37c816aef48bf95887dc88f5601029466fefd48886a4f827e8efe19c"
    CACHE STRING "SHA-256 of the Wine runtime archive")
set(FERROWICK_STEAM_DOWNLOAD_URL "https://store.steampowered.com/about/" CACHE STRING "Steam client download page")

if(NOT FERROWICK_WINE_SHA256 MATCHES "^[0-9a-f]+$")
  message(FATAL_ERROR "FERROWICK_WINE_SHA256 must be lower-case hexadecimal")
endif()
string(LENGTH "${FERROWICK_WINE_SHA256}" _len)
if(NOT _len EQUAL 64)
  message(FATAL_ERROR "FERROWICK_WINE_SHA256 must have 64 digits")
endif()

set(FERROWICK_GENERATED_DIR "${CMAKE_BINARY_DIR}/generated")
# dev on a machine with Debian's Wine: the build packs a demo runtime over it
# (demo/) and writes this header with that archive's digest instead.
set(FERROWICK_DEMO OFF)
if(FERROWICK_PROFILE STREQUAL "dev" AND EXISTS /usr/lib/wine/wine64 AND EXISTS /usr/lib/wine/wineserver
   AND EXISTS /usr/bin/tar)
  set(FERROWICK_DEMO ON)
else()
  configure_file("${CMAKE_SOURCE_DIR}/cmake/BuildConfig.h.in" "${FERROWICK_GENERATED_DIR}/BuildConfig.h" @ONLY)
endif()
