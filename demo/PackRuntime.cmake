# Build step: packs the demo runtime the way the runtime archive is laid out
# and writes the dev build-config header with that archive's digest.
# Reproducible (fixed names, times and owners), so the digest only changes
# with the wrappers.
set(app "${STAGE}/Wine Staging.app")
file(REMOVE_RECURSE "${STAGE}")
file(MAKE_DIRECTORY "${app}/Contents/Resources/wine/bin")
file(COPY "${SRC}/wine" "${SRC}/wineserver" DESTINATION "${app}/Contents/Resources/wine/bin"
     FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
execute_process(
  COMMAND /usr/bin/tar -cJf "${ARCHIVE}" --sort=name --mtime=@0 --owner=0 --group=0 --numeric-owner
          -C "${STAGE}" "Wine Staging.app"
  RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "tar failed packing the demo runtime: ${result}")
endif()
file(SHA256 "${ARCHIVE}" FERROWICK_WINE_SHA256)
configure_file("${CONFIG_IN}" "${CONFIG_OUT}" @ONLY)
