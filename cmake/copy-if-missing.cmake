# Copies SRC to DST only when DST does not exist: the program folder's database holds
# the user's messages and is never replaced by a build.
if(NOT EXISTS "${DST}")
  file(COPY_FILE "${SRC}" "${DST}")
endif()
