# What a binary that leaves the build tree gets: libkelmar.so and the tools,
# which the packages ship, and the sample backend, which stands in for
# Vorlan's on any host. They need no glibc symbol version above GLIBC_2.17
# (src/glibc_floor), the programs and the backend no libstdc++ at run time
# (theirs is linked in; libgcc_s.so.1, stable everywhere, stays shared), and
# they are hardened as distributions harden theirs. A build id tells one
# build from another, and finds the debug information kept apart.
#
# kelmar_shipped(TARGET [STATIC_CXX_RUNTIME])
function(kelmar_shipped target)
  cmake_parse_arguments(PARSE_ARGV 1 arg "STATIC_CXX_RUNTIME" "" "")
  # Before glibc 2.34 the dl* and pthread_* calls live in libdl and
  # libpthread, which today's are empty stubs that the linker would drop.
  target_link_options(${target} PRIVATE -Wl,--build-id=sha1 -Wl,-z,relro -Wl,-z,now
    -Wl,--no-as-needed -l:libdl.so.2 -l:libpthread.so.0)
  # The sanitizers' run times need this machine's glibc: their builds keep the plain calls.
  if(KELMAR_SANITIZE)
    return()
  endif()
  target_link_libraries(${target} PRIVATE kelmar_glibc_floor)
  target_link_options(${target} PRIVATE -Wl,--gc-sections)
  if(NOT arg_STATIC_CXX_RUNTIME)
    return()
  endif()
  target_link_libraries(${target} PRIVATE kelmar_cxx_floor)
  target_link_options(${target} PRIVATE -static-libstdc++)
  get_target_property(type ${target} TYPE)
  if(type STREQUAL "EXECUTABLE")
    target_link_libraries(${target} PRIVATE kelmar_program_floor)
  else()
    # The host process has a C++ run time of its own: ours stays private.
    target_link_options(${target} PRIVATE -Wl,--exclude-libs,ALL)
  endif()
endfunction()
