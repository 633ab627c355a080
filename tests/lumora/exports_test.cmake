# Compares the dynamic symbols liblumora.so defines with the list kept in lumora/exports.txt, so
# that a new export is a decision, not an accident. Run as
#   cmake -DLIBRARY=<liblumora.so> -DEXPECTED=<exports.txt> -DNM=<nm> -P exports_test.cmake

execute_process(COMMAND ${NM} -D --defined-only -C ${LIBRARY}
  OUTPUT_VARIABLE nm_output RESULT_VARIABLE nm_result)
if(NOT nm_result EQUAL 0)
  message(FATAL_ERROR "${NM} failed on ${LIBRARY}")
endif()

# What the toolchain puts into every shared object, not the library's interface: the linker's
# section bounds, AddressSanitizer's ODR indicators, and out-of-line copies of Qt's and the
# standard library's inline functions and unique data that the compiler emits with the visibility
# those headers give them.
set(foreign_patterns
  "^(_init|_fini|_edata|_end|__bss_start)$"
  "^__odr_asan[._]"
  "^(void |bool |int |unsigned |char\\* )?std::"
  "^(typeinfo|typeinfo name|vtable) for (Q|std::)"
  "^([A-Za-z_:<>* ]+ )?Q[A-Za-z0-9_]*(<[^>]*>)?::")

string(REPLACE "\n" ";" nm_lines "${nm_output}")
set(actual)
foreach(line IN LISTS nm_lines)
  if(NOT line MATCHES "^[0-9a-fA-F]* *[A-Za-z] (.+)$")
    continue()
  endif()
  set(name "${CMAKE_MATCH_1}")
  set(foreign FALSE)
  foreach(pattern IN LISTS foreign_patterns)
    if(name MATCHES "${pattern}")
      set(foreign TRUE)
    endif()
  endforeach()
  if(NOT foreign)
    list(APPEND actual "${name}")
  endif()
endforeach()
list(REMOVE_DUPLICATES actual)
list(SORT actual)

file(STRINGS ${EXPECTED} expected_lines ENCODING UTF-8)
set(expected)
foreach(line IN LISTS expected_lines)
  string(STRIP "${line}" line)
  if(line STREQUAL "" OR line MATCHES "^#")
    continue()
  endif()
  list(APPEND expected "${line}")
endforeach()
list(REMOVE_DUPLICATES expected)
list(SORT expected)

set(added ${actual})
list(REMOVE_ITEM added ${expected})
set(missing ${expected})
list(REMOVE_ITEM missing ${actual})
if(added OR missing)
  set(diff "")
  foreach(name IN LISTS added)
    string(APPEND diff "\n  + ${name}")
  endforeach()
  foreach(name IN LISTS missing)
    string(APPEND diff "\n  - ${name}")
  endforeach()
  message(FATAL_ERROR "liblumora.so exports differ from ${EXPECTED}\n"
    "(+ exported but not listed, - listed but not exported):${diff}\n"
    "A new public function is declared LUMORA_EXPORT in an installed header and added to the "
    "list; anything else is hidden (internals reach the tests through lumora_objects).")
endif()
message(STATUS "liblumora.so exports exactly the ${EXPECTED} list")
