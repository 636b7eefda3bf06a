# Fails when the 32-bit module holds an instruction beyond what an i686
# processor runs outside the functions that are only called after the
# processor said it has more: the SSE2 and AVX2 window scans, and the
# compiler runtime's reading of the processor's features (xgetbv, run only
# when cpuid reports it).
#
# Allowed everywhere: tzcnt, which is "rep bsf" and runs as bsf on older
# processors (the compiler uses it only where the two agree, on a non-zero
# operand), and endbr32 and the notrack prefix, which older ones read as no-ops.
execute_process(COMMAND ${OBJDUMP} -d --no-show-raw-insn ${MODULE}
                OUTPUT_VARIABLE listing RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "objdump failed on ${MODULE}")
endif()

# Vector registers, and the scalar instructions of later extensions.
set(vector_register "%(x|y|z)mm[0-9]|%mm[0-7]|%k[0-7]")
set(later_scalar "^(lzcnt|popcnt|movbe|crc32[bwl]?|andn|bextr|blsi|blsmsk|blsr|bzhi|mulx|pdep|pext|rorx|sarx|shlx|shrx|adcx|adox|rdrand|rdseed|xgetbv|movnti|lfence|mfence|sfence|clflush|prefetch[a-z0-9]*|emms|ldmxcsr|stmxcsr|cmpxchg16b)$")
set(chosen_at_run_time "scanSse2|scanAvx2")
set(feature_reading "get_available_features|__cpu_indicator_init")

string(REGEX MATCHALL "[^\n]+" lines "${listing}")
set(function "")
set(vector_functions "")
set(problems "")
set(count 0)
foreach(line IN LISTS lines)
  if(line MATCHES "^[0-9a-f]+ <(.*)>:$")
    set(function "${CMAKE_MATCH_1}")
    continue()
  endif()
  if(NOT line MATCHES "^ +[0-9a-f]+:\t([^\t]*)")
    continue()
  endif()
  set(instruction "${CMAKE_MATCH_1}")
  math(EXPR count "${count} + 1")
  string(REGEX REPLACE "^(rep[a-z]* |lock |notrack |data16 |bnd )+" "" instruction "${instruction}")
  string(REGEX MATCH "^[a-z0-9]+" mnemonic "${instruction}")
  if(instruction MATCHES "${vector_register}")
    if(function MATCHES "${chosen_at_run_time}")
      list(APPEND vector_functions "${function}")
      continue()
    endif()
    list(APPEND problems "${function}: ${instruction}")
  elseif(mnemonic MATCHES "${later_scalar}")
    if(mnemonic STREQUAL "xgetbv" AND function MATCHES "${feature_reading}")
      continue()
    endif()
    list(APPEND problems "${function}: ${instruction}")
  endif()
endforeach()

if(count EQUAL 0)
  message(FATAL_ERROR "no instructions read from ${MODULE}")
endif()
if(problems)
  list(REMOVE_DUPLICATES problems)
  string(REPLACE ";" "\n  " shown "${problems}")
  message(FATAL_ERROR "instructions beyond i686 outside the scans chosen at run time:\n  ${shown}")
endif()
list(REMOVE_DUPLICATES vector_functions)
message(STATUS "${count} instructions; vector instructions only in: ${vector_functions}")
