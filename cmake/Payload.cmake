# updatetool_append_payload(TARGET <executable> CONTAINER <file>
#                           [CONTAINER_TARGET <target>] [KEY_DIR <dir>] [TIME_STAMP <seconds>])
#
# After <executable> is linked, appends the signed and encrypted payload of
# CONTAINER to its program file (mkpayload wrap), so the build leaves a program
# that carries its update. CONTAINER_TARGET names the target that makes the
# container at build time, if any. KEY_DIR defaults to UPDATETOOL_KEY_DIR.
function(updatetool_append_payload)
  cmake_parse_arguments(P "" "TARGET;CONTAINER;CONTAINER_TARGET;KEY_DIR;TIME_STAMP" "" ${ARGN})
  if(NOT P_TARGET OR NOT P_CONTAINER)
    message(FATAL_ERROR "updatetool_append_payload needs TARGET and CONTAINER")
  endif()
  if(NOT P_KEY_DIR)
    set(P_KEY_DIR "${UPDATETOOL_KEY_DIR}")
  endif()
  set(stamp_args "")
  if(P_TIME_STAMP)
    set(stamp_args --time-stamp ${P_TIME_STAMP})
  endif()
  add_dependencies(${P_TARGET} mkpayload)
  if(P_CONTAINER_TARGET)
    add_dependencies(${P_TARGET} ${P_CONTAINER_TARGET})
  endif()
  add_custom_command(TARGET ${P_TARGET} POST_BUILD
    COMMAND $<TARGET_FILE:mkpayload> wrap --keys "${P_KEY_DIR}" --container "${P_CONTAINER}"
            --program $<TARGET_FILE:${P_TARGET}> --out $<TARGET_FILE:${P_TARGET}> ${stamp_args}
    COMMENT "Appending the payload of ${P_CONTAINER} to ${P_TARGET}"
    VERBATIM)
endfunction()
