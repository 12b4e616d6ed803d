# The README's C example must be docs/example/audio_loop.c word for word,
# which the build compiles: an example that no longer builds fails the build,
# one edited in only one place fails this test.
#   cmake -DREADME=... -DEXAMPLE=... -P readme_example.cmake
file(READ "${README}" readme)
file(READ "${EXAMPLE}" example)
string(FIND "${readme}" "### Example" section)
if(section EQUAL -1)
  message(FATAL_ERROR "README has no \"### Example\" section")
endif()
string(SUBSTRING "${readme}" ${section} -1 readme)
string(FIND "${readme}" "```c\n" open)
string(FIND "${readme}" "\n```\n" close)
if(open EQUAL -1 OR close EQUAL -1 OR close LESS open)
  message(FATAL_ERROR "README's example has no ```c block")
endif()
math(EXPR first "${open} + 5")
math(EXPR length "${close} + 1 - ${first}")
string(SUBSTRING "${readme}" ${first} ${length} block)
if(NOT block STREQUAL example)
  message(FATAL_ERROR "README's C example differs from ${EXAMPLE}")
endif()
