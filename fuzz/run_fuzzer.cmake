# Runs one libFuzzer target for a bounded time over a fresh copy of its seed
# corpus in the build tree, so the repository is never written to.
# -D FUZZER, SEEDS, DICTIONARY, WORK; seconds from $ENV{TARNWICK_FUZZ_SECONDS}.
set(seconds 30)
if(DEFINED ENV{TARNWICK_FUZZ_SECONDS} AND NOT "$ENV{TARNWICK_FUZZ_SECONDS}" STREQUAL "")
  set(seconds $ENV{TARNWICK_FUZZ_SECONDS})
endif()

file(REMOVE_RECURSE ${WORK})
file(MAKE_DIRECTORY ${WORK}/artifacts)
file(COPY ${SEEDS}/ DESTINATION ${WORK}/corpus)

# A single allocation over 64 MiB means a declared size was trusted: the
# inputs are at most 4 KiB, enough to nest past the depth limit.
execute_process(
  COMMAND ${FUZZER}
    -max_total_time=${seconds}
    -dict=${DICTIONARY}
    -max_len=4096
    -malloc_limit_mb=64
    -rss_limit_mb=1024
    -print_final_stats=1
    -artifact_prefix=${WORK}/artifacts/
    ${WORK}/corpus
  RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "${FUZZER} failed (${result}); inputs in ${WORK}/artifacts")
endif()
