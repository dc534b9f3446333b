# The README shows examples/find_pattern.c verbatim: the ```c block that
# starts with the file's first line must equal the file.
#   README   the README.md      EXAMPLE  the example's source
file(READ ${EXAMPLE} source)
file(READ ${README} readme)
string(REGEX MATCH "^[^\n]*" firstLine "${source}")
string(FIND "${readme}" "```c\n${firstLine}\n" start)
if(start EQUAL -1)
  message(FATAL_ERROR "README.md has no ```c block starting with: ${firstLine}")
endif()
math(EXPR start "${start} + 5")
string(SUBSTRING "${readme}" ${start} -1 rest)
string(FIND "${rest}" "\n```" end)
math(EXPR end "${end} + 1")
string(SUBSTRING "${rest}" 0 ${end} block)
if(NOT block STREQUAL source)
  message(FATAL_ERROR "the README's copy of ${EXAMPLE} differs from the file; paste the file into README.md")
endif()
