# Run by cpack on what it is about to pack (CPACK_TEMPORARY_INSTALL_DIRECTORY),
# once per format. Every ELF file is stripped, its debug information going to
# .build-id/NN/REST.debug of the debug archive beside the packages (gdb finds
# it there by build id once the archive is unpacked into /usr/lib/debug). In
# the .deb the copyright and changelog go where Debian keeps them, with the
# lintian overrides.
set(staged ${CPACK_TEMPORARY_INSTALL_DIRECTORY})
set(debug ${CPACK_TOPLEVEL_DIRECTORY}/debug)
file(REMOVE_RECURSE ${debug})

file(GLOB_RECURSE files LIST_DIRECTORIES false ${staged}/*)
foreach(file IN LISTS files)
  if(IS_SYMLINK ${file})
    continue()
  endif()
  file(READ ${file} magic LIMIT 4 HEX)
  if(NOT magic STREQUAL "7f454c46")
    continue()
  endif()
  execute_process(COMMAND ${CPACK_KELMAR_READELF} -n ${file} OUTPUT_VARIABLE notes COMMAND_ERROR_IS_FATAL ANY)
  if(NOT notes MATCHES "Build ID: ([0-9a-f][0-9a-f])([0-9a-f]+)")
    message(FATAL_ERROR "${file} has no build id")
  endif()
  set(kept ${debug}/.build-id/${CMAKE_MATCH_1}/${CMAKE_MATCH_2}.debug)
  get_filename_component(kept_dir ${kept} DIRECTORY)
  file(MAKE_DIRECTORY ${kept_dir})
  execute_process(COMMAND ${CPACK_KELMAR_OBJCOPY} --only-keep-debug ${file} ${kept} COMMAND_ERROR_IS_FATAL ANY)
  execute_process(COMMAND ${CPACK_KELMAR_STRIP} --strip-unneeded --remove-section=.comment ${file}
                  COMMAND_ERROR_IS_FATAL ANY)
endforeach()
execute_process(COMMAND ${CMAKE_COMMAND} -E tar czf ${CPACK_PACKAGE_DIRECTORY}/${CPACK_KELMAR_DEBUG_ARCHIVE} .build-id
                WORKING_DIRECTORY ${debug} COMMAND_ERROR_IS_FATAL ANY)

if(CPACK_GENERATOR STREQUAL "DEB")
  set(installed_doc ${staged}${CPACK_PACKAGING_INSTALL_PREFIX}/share/doc)
  set(debian_doc ${staged}/usr/share/doc/${CPACK_PACKAGE_NAME})
  file(MAKE_DIRECTORY ${staged}/usr/share/doc ${staged}/usr/share/lintian/overrides)
  file(RENAME ${installed_doc}/${CPACK_PACKAGE_NAME} ${debian_doc})
  file(REMOVE_RECURSE ${installed_doc})
  execute_process(COMMAND gzip -9n ${debian_doc}/changelog COMMAND_ERROR_IS_FATAL ANY)
  file(COPY_FILE ${CPACK_KELMAR_LINTIAN_OVERRIDES} ${staged}/usr/share/lintian/overrides/${CPACK_PACKAGE_NAME})
endif()
