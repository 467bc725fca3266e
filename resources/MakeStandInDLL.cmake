# Writes a deterministic stand-in for one graphics DLL, for builds that do not
# ship real Windows binaries. The same name and architecture always give the
# same bytes, so runtime.lock digests are stable from build to build.
#   cmake -DOUTPUT=<file> -DARCH=<x86_64|i686> -DNAME=<dll name> -P MakeStandInDLL.cmake
foreach(_var OUTPUT ARCH NAME)
  if(NOT DEFINED ${_var})
    message(FATAL_ERROR "MakeStandInDLL.cmake needs -D${_var}=...")
  endif()
endforeach()

set(_header "MZ\nFerrowick stand-in graphics component (not a Windows DLL)\narch: ${ARCH}\nname: ${NAME}\n")
# 64 KiB of padding derived from the name, so digests are not trivially alike
# and hashing does real work.
string(SHA256 _seed "${ARCH}/${NAME}")
string(REPEAT "${_seed}\n" 1008 _padding)
file(WRITE "${OUTPUT}" "${_header}${_padding}")
