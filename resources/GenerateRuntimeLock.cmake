# Writes runtime.lock from the graphics DLLs actually staged in the bundle, so
# the manifest can never disagree with what ships.
#   cmake -DBUNDLE_DIR=<dir> -DOUTPUT=<file> -DARTIFACTS=<path|arch,...>
#         -DPRODUCT_VERSION=<text> -DMIN_MACOS=<text> -DSUPPORTED_CPU=<a,b> -P GenerateRuntimeLock.cmake
# Lists are comma-separated so they survive the custom command's argument
# splitting.
foreach(_var BUNDLE_DIR OUTPUT ARTIFACTS PRODUCT_VERSION MIN_MACOS SUPPORTED_CPU)
  if(NOT DEFINED ${_var})
    message(FATAL_ERROR "GenerateRuntimeLock.cmake needs -D${_var}=...")
  endif()
endforeach()
string(REPLACE "," ";" ARTIFACTS "${ARTIFACTS}")
string(REPLACE "," ";" SUPPORTED_CPU "${SUPPORTED_CPU}")

set(_json "{}")
string(JSON _json SET "${_json}" schema_version "1")
# string(JSON SET) takes JSON text, so strings are quoted and escaped here.
# Control characters cannot occur: the values are file names and cache values.
function(_json_string out text)
  string(REPLACE "\\" "\\\\" text "${text}")
  string(REPLACE "\"" "\\\"" text "${text}")
  set(${out} "\"${text}\"" PARENT_SCOPE)
endfunction()

_json_string(_product "${PRODUCT_VERSION}")
string(JSON _json SET "${_json}" product_version "${_product}")

set(_artifacts "[]")
set(_index 0)
foreach(_entry IN LISTS ARTIFACTS)
  string(REPLACE "|" ";" _parts "${_entry}")
  list(GET _parts 0 _path)
  list(GET _parts 1 _arch)
  set(_file "${BUNDLE_DIR}/${_path}")
  if(NOT EXISTS "${_file}")
    message(FATAL_ERROR "runtime.lock: staged file missing: ${_file}")
  endif()
  file(SHA256 "${_file}" _digest)
  string(TOLOWER "${_digest}" _digest)
  _json_string(_jpath "${_path}")
  _json_string(_jarch "${_arch}")
  string(JSON _artifacts SET "${_artifacts}" ${_index}
         "{\"path\": ${_jpath}, \"arch\": ${_jarch}, \"sha256\": \"${_digest}\"}")
  math(EXPR _index "${_index} + 1")
endforeach()
string(JSON _json SET "${_json}" artifacts "${_artifacts}")

set(_cpus "[]")
set(_index 0)
foreach(_cpu IN LISTS SUPPORTED_CPU)
  _json_string(_jcpu "${_cpu}")
  string(JSON _cpus SET "${_cpus}" ${_index} "${_jcpu}")
  math(EXPR _index "${_index} + 1")
endforeach()
_json_string(_min "${MIN_MACOS}")
string(JSON _json SET "${_json}" constraints "{\"min_macos\": ${_min}, \"supported_cpu\": ${_cpus}}")

file(WRITE "${OUTPUT}" "${_json}\n")
