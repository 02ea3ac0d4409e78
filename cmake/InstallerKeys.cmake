# The vendor's own keys (KELVORA_INSTALLER_KEYS): PEM ECDSA P-256 public keys,
# turned at configure time into the public key blobs that the system's CNG
# imports (BCRYPT_ECCPUBLIC_BLOB: the magic "ECS1", the key size 32, then X
# and Y), so that the program needs no key parser and reads no key file.

# The DER SubjectPublicKeyInfo of an uncompressed P-256 key up to its point:
# SEQUENCE { SEQUENCE { id-ecPublicKey, prime256v1 }, BIT STRING 04 ... }.
set(kelvora_p256_spki_prefix "3059301306072a8648ce3d020106082a8648ce3d03010703420004")

# kelvora_installer_key_blobs(<out_literal> <out_count> [<key path>...]):
# the blobs as C initialisers ("{{0x45, ...}}, " per key) and their number.
# Paths are absolute or relative to the source folder; each key file becomes
# a configure dependency. Refuses anything that is not a P-256 public key.
function(kelvora_installer_key_blobs out_literal out_count)
  set(literal "")
  set(count 0)
  foreach(key IN LISTS ARGN)
    cmake_path(ABSOLUTE_PATH key BASE_DIRECTORY ${CMAKE_SOURCE_DIR} NORMALIZE OUTPUT_VARIABLE path)
    if(NOT EXISTS "${path}" OR IS_DIRECTORY "${path}")
      message(FATAL_ERROR "KELVORA_INSTALLER_KEYS: '${key}' is no file (looked at ${path})")
    endif()
    set_property(DIRECTORY ${CMAKE_SOURCE_DIR} APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS "${path}")
    file(READ "${path}" pem)
    if(NOT pem MATCHES "-----BEGIN PUBLIC KEY-----")
      message(FATAL_ERROR "KELVORA_INSTALLER_KEYS: ${path} is not a PEM public key (-----BEGIN PUBLIC KEY-----, "
                          "as 'openssl ec -pubout' writes it). Never give the build a private key.")
    endif()
    find_program(KELVORA_OPENSSL openssl REQUIRED)
    string(SHA256 name "${path}")
    set(der ${CMAKE_BINARY_DIR}/installer_keys/${name}.der)
    file(MAKE_DIRECTORY ${CMAKE_BINARY_DIR}/installer_keys)
    file(REMOVE ${der})
    # openssl refuses a point that is not on its curve; a compressed point is
    # written out uncompressed.
    execute_process(COMMAND ${KELVORA_OPENSSL} ec -pubin -in ${path} -conv_form uncompressed -outform DER -out ${der}
                    RESULT_VARIABLE result OUTPUT_QUIET ERROR_VARIABLE error)
    set(hex "")
    if(result EQUAL 0 AND EXISTS ${der})
      file(READ ${der} hex HEX)
    endif()
    string(LENGTH "${hex}" hex_length)
    string(LENGTH "${kelvora_p256_spki_prefix}" prefix_length)
    set(p256 FALSE)
    if(hex_length EQUAL 182)
      string(SUBSTRING "${hex}" 0 ${prefix_length} prefix)
      if(prefix STREQUAL kelvora_p256_spki_prefix)
        set(p256 TRUE)
      endif()
    endif()
    if(NOT p256)
      string(STRIP "${error}" error)
      message(FATAL_ERROR "KELVORA_INSTALLER_KEYS: ${path} is not an ECDSA P-256 public key "
                          "(prime256v1, as 'openssl ecparam -name prime256v1' makes it). ${error}")
    endif()
    file(SHA256 ${der} fingerprint)
    message(STATUS "Installer key ${path}: SHA-256 of its public key ${fingerprint}")
    string(SUBSTRING "${hex}" ${prefix_length} 128 point)
    # "ECS1" (BCRYPT_ECDSA_PUBLIC_P256_MAGIC) and 32, both little-endian.
    string(REGEX REPLACE "(..)" "0x\\1, " bytes "4543533120000000${point}")
    string(REGEX REPLACE ", $" "" bytes "${bytes}")
    string(APPEND literal "{{${bytes}}}, ")
    math(EXPR count "${count} + 1")
  endforeach()
  set(${out_literal} "${literal}" PARENT_SCOPE)
  set(${out_count} ${count} PARENT_SCOPE)
endfunction()
