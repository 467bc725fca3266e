# Fails the build when a core or platform source includes a Qt header.
file(GLOB_RECURSE _files
     "${ROOT}/platform/*.h" "${ROOT}/platform/*.cpp"
     "${ROOT}/runtime/*.h" "${ROOT}/runtime/*.cpp"
     "${ROOT}/wine/*.h" "${ROOT}/wine/*.cpp"
     "${ROOT}/process/*.h" "${ROOT}/process/*.cpp"
     "${ROOT}/logging/*.h" "${ROOT}/logging/*.cpp"
     "${ROOT}/common/*.h" "${ROOT}/common/*.cpp"
     "${ROOT}/diagnostics/*.h" "${ROOT}/diagnostics/*.cpp"
     "${ROOT}/controller/*.h" "${ROOT}/controller/*.cpp")
foreach(_f IN LISTS _files)
  file(STRINGS "${_f}" _hits REGEX "^[ \t]*#[ \t]*include[ \t]*[<\"]Q[A-Za-z]")
  if(_hits)
    message(FATAL_ERROR "${_f} includes Qt, but the core must build without it: ${_hits}")
  endif()
endforeach()
