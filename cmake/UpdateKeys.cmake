# inkora_update_keys(<output>): writes the PEM public keys named by
# INKORA_UPDATE_KEYS (a list of one or two files; relative paths are taken
# from the source tree) as C string literals, one per line, into <output>.
# Each must be an uncompressed ECDSA P-256 key as "openssl pkey -pubout"
# writes it; anything else stops the configuration. An empty list writes an
# empty file: a build that checks no signatures.
function(inkora_update_keys output)
  list(LENGTH INKORA_UPDATE_KEYS count)
  if(count GREATER 2)
    message(FATAL_ERROR "INKORA_UPDATE_KEYS names ${count} keys; one or two are allowed")
  endif()
  set(text "")
  foreach(file IN LISTS INKORA_UPDATE_KEYS)
    get_filename_component(path "${file}" ABSOLUTE BASE_DIR "${CMAKE_SOURCE_DIR}")
    if(NOT EXISTS "${path}")
      message(FATAL_ERROR "INKORA_UPDATE_KEYS: no file ${path}")
    endif()
    set_property(DIRECTORY "${CMAKE_SOURCE_DIR}" APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS "${path}")
    file(READ "${path}" pem)
    string(REGEX REPLACE "[ \t\r\n]" "" flat "${pem}")
    # The base64 of the 91-byte SubjectPublicKeyInfo of a P-256 key always
    # begins so; a compressed point, another curve or a private key do not.
    if(NOT flat MATCHES "^-----BEGINPUBLICKEY-----(MFkwEwYHKoZIzj0CAQYIKoZIzj0DAQcDQgAE[A-Za-z0-9+/]+=*)-----ENDPUBLICKEY-----$")
      message(FATAL_ERROR "INKORA_UPDATE_KEYS: ${path} is not a PEM public key of the curve P-256 (openssl pkey -pubout)")
    endif()
    string(LENGTH "${CMAKE_MATCH_1}" letters)
    if(NOT letters EQUAL 124)
      message(FATAL_ERROR "INKORA_UPDATE_KEYS: ${path} is not a PEM public key of the curve P-256 (openssl pkey -pubout)")
    endif()
    string(APPEND text "\"-----BEGIN PUBLIC KEY-----\\n${CMAKE_MATCH_1}\\n-----END PUBLIC KEY-----\\n\",\n")
  endforeach()
  file(CONFIGURE OUTPUT "${output}" CONTENT "${text}")
  if(count GREATER 0)
    message(STATUS "Update signatures required: ${count} key(s) built in")
  endif()
endfunction()
