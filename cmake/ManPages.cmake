# The man pages: docs/man/NAME.SECTION.scd becomes roff in <build>/man/NAME.SECTION when scdoc
# is found, installed to share/man/manSECTION. Without scdoc there are no man pages.
find_program(SCDOC scdoc)
set(POSTVANE_MAN_PAGES "")
if(SCDOC)
  file(GLOB man_sources CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/docs/man/*.scd)
  foreach(source IN LISTS man_sources)
    get_filename_component(page ${source} NAME_WLE)       # postvane.8
    string(REGEX MATCH "[0-9]$" section ${page})
    set(output ${CMAKE_BINARY_DIR}/man/${page})
    add_custom_command(OUTPUT ${output}
                       COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/man
                       COMMAND ${SCDOC} < ${source} > ${output}
                       DEPENDS ${source} VERBATIM)
    install(FILES ${output} DESTINATION ${CMAKE_INSTALL_MANDIR}/man${section})
    list(APPEND POSTVANE_MAN_PAGES ${output})
  endforeach()
  add_custom_target(man_pages ALL DEPENDS ${POSTVANE_MAN_PAGES})
else()
  message(STATUS "scdoc not found: no man pages")
endif()
