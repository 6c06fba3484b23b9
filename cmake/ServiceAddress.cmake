# A service address must be https, except plain http to a loopback host, which
# the local sync service used for development and tests listens on. A release
# build accepts https only.
function(tovik_check_service_address var)
  set(url "${${var}}")
  if(url MATCHES "^https://[^/]+")
    return()
  endif()
  if(url MATCHES "^http://(127\\.[0-9]+\\.[0-9]+\\.[0-9]+|localhost|\\[::1\\])(:[0-9]+)?(/.*)?$")
    if(CMAKE_BUILD_TYPE STREQUAL "Release")
      message(FATAL_ERROR "${var} is '${url}': a Release build needs an https address")
    endif()
    return()
  endif()
  message(FATAL_ERROR "${var} is '${url}': it must be an https address (plain http only for a loopback host)")
endfunction()
