# Puts the native library into the jar's resource tree: a copy without debug
# sections, and beside it the size and SHA-256 the loader checks after
# extraction ("<sha256 hex> <size>").
# usage: cmake -DLIBRARY=<.so> -DDEST=<staged .so> -DSTRIP=<strip tool> -P stage_native.cmake
get_filename_component(dest_dir "${DEST}" DIRECTORY)
file(MAKE_DIRECTORY "${dest_dir}")
if(STRIP)
  execute_process(COMMAND "${STRIP}" --strip-debug -o "${DEST}" "${LIBRARY}" RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "could not strip ${LIBRARY}")
  endif()
else()
  file(COPY_FILE "${LIBRARY}" "${DEST}")
endif()
file(SHA256 "${DEST}" digest)
file(SIZE "${DEST}" size)
file(WRITE "${DEST}.sha256" "${digest} ${size}\n")
