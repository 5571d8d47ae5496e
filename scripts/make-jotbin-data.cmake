# Places the record keeper's data file beside the program when none is
# there: an empty database with the table JB. An existing file, with the
# user's records, is never touched.
#
#   cmake -DORBDB=<orbdb> -DDATA_FILE=<dir>/JBdata.ORB -P make-jotbin-data.cmake
if(EXISTS "${DATA_FILE}")
  return()
endif()
set(partial "${DATA_FILE}.new")
set(header "${DATA_FILE}.header")
file(REMOVE "${partial}")
file(WRITE "${header}" "numero\n")
execute_process(COMMAND "${ORBDB}" create "${partial}" RESULT_VARIABLE status)
if(status EQUAL 0)
  execute_process(
    COMMAND "${ORBDB}" load "${partial}" JB
            --fields "numero INTEGER, info FORMATTEDMEMO, tab1 VARCHAR(20), tab2 VARCHAR(20), tab3 VARCHAR(20)"
    INPUT_FILE "${header}"
    RESULT_VARIABLE status)
endif()
file(REMOVE "${header}")
if(NOT status EQUAL 0)
  file(REMOVE "${partial}")
  message(FATAL_ERROR "could not make ${DATA_FILE}")
endif()
file(RENAME "${partial}" "${DATA_FILE}")
message(STATUS "made ${DATA_FILE} with the table JB")
