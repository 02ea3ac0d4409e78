# kelvora_check_download_address(<setting> <address>): stops configuring
# unless <address> is an https address with a host and a path, without
# blanks, quotes, backslashes, semicolons or control characters. Every
# address becomes a string literal in the program and a request's target.
function(kelvora_check_download_address setting address)
  string(ASCII 1 2 3 4 5 6 7 8 9 10 11 12 13 14 15 16 17 18 19 20 21 22 23 24 25 26 27 28 29 30 31 127 control)
  if(NOT address MATCHES "^https://[^/?#@]+/.+$")
    message(FATAL_ERROR "${setting}: '${address}' is not an https:// address with a host and a path")
  endif()
  if(address MATCHES "[ \"';\\\\${control}]")
    message(FATAL_ERROR
      "${setting}: '${address}' must not contain blanks, quotes, backslashes, semicolons or control characters")
  endif()
endfunction()
