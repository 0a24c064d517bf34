# Fails when the AVX2 kernel object holds no AVX2 code: no instruction on
# 256-bit ymm registers (AVX), or none of them an integer "vp" instruction
# (those are AVX2's own; emissionRow's shifts and masks need them).
#   cmake -DOBJDUMP=objdump -DOBJECTS=kernels_avx2.cpp.o [-DSTAMP=file] -P check_avx2.cmake
# STAMP, when given, is written once the object passes.
if(NOT OBJDUMP)
  message(FATAL_ERROR "No objdump was found to check the AVX2 kernels with "
    "(configure with -DTARVEL_AVX2=OFF to build the portable kernels alone).")
endif()
execute_process(COMMAND ${OBJDUMP} -d --no-show-raw-insn ${OBJECTS}
  OUTPUT_VARIABLE listing RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "${OBJDUMP} could not read ${OBJECTS}")
endif()
string(REGEX MATCHALL "[^\n]*ymm[0-9][^\n]*" wide "${listing}")
list(LENGTH wide wideCount)
list(FILTER wide INCLUDE REGEX "[ \t]vp[a-z0-9]+[ \t]")
list(LENGTH wide integerCount)
if(wideCount EQUAL 0 OR integerCount EQUAL 0)
  message(FATAL_ERROR "${OBJECTS} holds ${wideCount} instructions on ymm registers, "
    "${integerCount} of them AVX2 integer ones: it was not compiled for AVX2.")
endif()
message(STATUS "AVX2 kernels: ${wideCount} instructions on ymm registers, ${integerCount} AVX2 integer ones")
if(STAMP)
  file(WRITE ${STAMP} "${wideCount} ${integerCount}\n")
endif()
