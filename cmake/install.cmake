# Installation (cmake --install BUILD [--prefix PREFIX]):
#   bin/kelto, bin/kelto-plot
#   share/kelto/f0_it1992.txt           the coefficient table
#   share/kelto/crystals/*.cif          the crystals of --crystal
#   share/kelto/examples/*.txt          the answer files, naming the installed table by its full path
#   share/kelto/examples/*.sh           the same runs as command-line options
#   share/kelto/examples/*.py           the same planning from Python
#   share/kelto/examples/*.dat          a measured I0 scan to fit the azimuth to, and three
#                                       short pieces of it to fit as one, and a table of
#                                       harmonic shares against the setting, and a scan of a
#                                       monochromator's readback to calibrate it from
#   share/kelto/plot/*.pro              the GDL routines of kelto-plot (it looks for them there)
#   share/man/man1/kelto.1, kelto-plot.1
#   share/doc/kelto/README.md           the README, and beside it the pages it links:
#   share/doc/kelto/docs/*.md, *.png    the reference by topic, with the pictures they show
include(GNUInstallDirs)

set(KELTO_SHARE_DIR share/kelto)

install(TARGETS kelto RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(PROGRAMS ${PROJECT_SOURCE_DIR}/plot/kelto-plot DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${PROJECT_SOURCE_DIR}/plot/kelto_plot.pro ${PROJECT_SOURCE_DIR}/plot/kelto_plot_macro.pro
        DESTINATION ${KELTO_SHARE_DIR}/plot)
install(FILES ${PROJECT_SOURCE_DIR}/data/f0_it1992.txt DESTINATION ${KELTO_SHARE_DIR})
install(DIRECTORY ${PROJECT_SOURCE_DIR}/data/crystals/ DESTINATION ${KELTO_SHARE_DIR}/crystals FILES_MATCHING PATTERN "*.cif")
install(PROGRAMS ${PROJECT_SOURCE_DIR}/examples/silicon_options.sh ${PROJECT_SOURCE_DIR}/examples/silicon_planning.py
        DESTINATION ${KELTO_SHARE_DIR}/examples)
install(FILES ${PROJECT_SOURCE_DIR}/examples/si220_i0_scan.dat ${PROJECT_SOURCE_DIR}/examples/si220_i0_part1.dat
              ${PROJECT_SOURCE_DIR}/examples/si220_i0_part2.dat ${PROJECT_SOURCE_DIR}/examples/si220_i0_part3.dat
              ${PROJECT_SOURCE_DIR}/examples/harmonic_content.dat ${PROJECT_SOURCE_DIR}/examples/si111_readback_scan.dat
        DESTINATION ${KELTO_SHARE_DIR}/examples)
install(FILES ${PROJECT_BINARY_DIR}/man/kelto.1 ${PROJECT_BINARY_DIR}/man/kelto-plot.1
        DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
# The README and its pages keep their relative places, so that their links hold where installed.
install(FILES ${PROJECT_SOURCE_DIR}/README.md DESTINATION ${CMAKE_INSTALL_DOCDIR})
install(DIRECTORY ${PROJECT_SOURCE_DIR}/docs/ DESTINATION ${CMAKE_INSTALL_DOCDIR}/docs
        FILES_MATCHING PATTERN "*.md" PATTERN "*.png")

# The repository's examples name the table as data/f0_it1992.txt, relative to the repository.
# Their installed copies name the installed table instead; its path is only known when the
# installation runs (the prefix may be given to cmake --install), so the copies are written
# then.  DESTDIR stages the files without changing the path they name.
install(CODE "set(KELTO_EXAMPLES_SOURCE [[${PROJECT_SOURCE_DIR}/examples]])
set(KELTO_SHARE_DIR [[${KELTO_SHARE_DIR}]])")
install(CODE [[
  get_filename_component(kelto_prefix "${CMAKE_INSTALL_PREFIX}" ABSOLUTE)
  set(kelto_table "${kelto_prefix}/${KELTO_SHARE_DIR}/f0_it1992.txt")
  set(kelto_examples "$ENV{DESTDIR}${kelto_prefix}/${KELTO_SHARE_DIR}/examples")
  if(kelto_table MATCHES "[ \t\n]")
    message(WARNING "kelto reads the coefficient file name as one word: the installed examples "
                    "cannot name ${kelto_table}, whose path holds white space")
  endif()
  file(MAKE_DIRECTORY "${kelto_examples}")
  file(GLOB kelto_example_files "${KELTO_EXAMPLES_SOURCE}/*.txt")
  foreach(kelto_example IN LISTS kelto_example_files)
    get_filename_component(kelto_name "${kelto_example}" NAME)
    file(READ "${kelto_example}" kelto_answers)
    string(FIND "${kelto_answers}" "\ndata/f0_it1992.txt\n" kelto_at)
    if(kelto_at EQUAL -1)
      message(FATAL_ERROR "${kelto_example} names no data/f0_it1992.txt on a line of its own")
    endif()
    string(REPLACE "\ndata/f0_it1992.txt\n" "\n${kelto_table}\n" kelto_answers "${kelto_answers}")
    message(STATUS "Installing: ${kelto_examples}/${kelto_name}")
    file(WRITE "${kelto_examples}/${kelto_name}" "${kelto_answers}")
    list(APPEND CMAKE_INSTALL_MANIFEST_FILES "${kelto_prefix}/${KELTO_SHARE_DIR}/examples/${kelto_name}")
  endforeach()
]])
