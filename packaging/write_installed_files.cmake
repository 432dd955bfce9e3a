# Writes, at install time, the files that name installed folders (the menu
# entry, the manual page) and the compressed documents; the install rules in
# CMakeLists.txt set the ORVANE_* variables and then install what this wrote.
if(IS_ABSOLUTE "${ORVANE_DATADIR}")
  set(data "${ORVANE_DATADIR}")
else()
  set(data "${CMAKE_INSTALL_PREFIX}/${ORVANE_DATADIR}")
endif()
set(ORVANE_PICTURES_DIR "${data}/orvane")
set(ORVANE_APPLICATIONS_DIR "${data}/applications")
configure_file(${ORVANE_SOURCE_DIR}/orvane.desktop.in ${ORVANE_BINARY_DIR}/orvane.desktop @ONLY)
configure_file(${ORVANE_SOURCE_DIR}/orvane.6.in ${ORVANE_BINARY_DIR}/orvane.6 @ONLY)

# gzip -9n, as Debian wants them: best compression, no name or time stamp.
foreach(pair "${ORVANE_BINARY_DIR}/orvane.6" "${ORVANE_SOURCE_DIR}/changelog")
  get_filename_component(name "${pair}" NAME)
  execute_process(COMMAND "${ORVANE_GZIP}" -9n -c "${pair}"
                  OUTPUT_FILE "${ORVANE_BINARY_DIR}/${name}.gz" RESULT_VARIABLE failed)
  if(failed)
    message(FATAL_ERROR "gzip ${pair} failed")
  endif()
endforeach()
